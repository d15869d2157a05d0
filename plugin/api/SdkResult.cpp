#include "plugin/api/SdkResult.h"

#include <iterator>
#include <utility>

#include "plugin/api/ksplugs.h"

namespace ksplugs {

int MapSdkResult(int sdkCode) {
  static constexpr std::pair<int, int> kTable[] = {
      {0, KS_OK},
      {1, KS_E_SDK},
      {4, KS_E_INVALID},
      {3, KS_E_INVALID},
      {9, KS_E_SDK_TIMEOUT},
      {14, KS_E_CONNECT},
      {21, KS_E_AUTH},
      {22, KS_E_AUTH},
      {25, KS_E_SDK_3008},
      {30, KS_E_NOT_SUPPORTED},
      {31, KS_E_UNAVAILABLE},
      {35, KS_E_SDK_3005},
      {10001, KS_E_INVALID},
      {10003, KS_E_NO_MEMORY},
      {10100, KS_E_NOT_SUPPORTED},
      {10101, KS_E_NO_MEMORY},
      {10206, KS_E_INVALID},
      {10203, KS_E_FILE},
      {10204, KS_E_BUSY},
      {16001, KS_E_NOT_SUPPORTED},
      {16002, KS_E_NOT_SUPPORTED},
      {16007, KS_E_SDK_1015},
  };
  static_assert(std::size(kTable) == 22);
  for (const auto& [sdk, result] : kTable) {
    if (sdk == sdkCode) return result;
  }
  return KS_E_SDK;
}

}  // namespace ksplugs
