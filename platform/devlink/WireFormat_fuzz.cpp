// Feeds arbitrary bytes to every DevLink parser: the message reader in
// random chunk sizes, each body decoder and the frame parser.
#include <cstddef>
#include <cstdint>

#include "platform/devlink/WireFormat.h"

using namespace devlink::wire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::span<const uint8_t> all(data + 1, size - 1);
  // The first byte chooses the chunk size of the stream.
  const size_t chunk = 1 + data[0] % 64;
  MessageReader reader;
  for (size_t at = 0; at < all.size(); at += chunk) {
    if (!reader.feed(all.subspan(at, std::min(chunk, all.size() - at)))) break;
    Message m;
    while (reader.next(m) == ParseStatus::kOk) {
      LoginChallengeRequest opening;
      LoginChallenge challenge;
      decode(m.body, opening);
      decode(m.body, challenge);
      LoginRequest a;
      LoginReply b;
      ForceKeyFrameRequest c;
      RecordQueryRequest d;
      std::vector<RecordItem> e;
      TalkOpenRequest f;
      LiveOpenRequest g;
      HistoryOpenRequest h;
      StreamInfo i;
      ControlRequest j;
      FrameHeader k;
      decode(m.body, a);
      decode(m.body, b);
      decode(m.body, c);
      decode(m.body, d);
      decode(m.body, e);
      decode(m.body, f);
      decode(m.body, g);
      decode(m.body, h);
      decode(m.body, i);
      if (decode(m.body, j) && j.op == kPosition) calendarSeconds(j.time);
      if (parseFrame(m.body, k)) isEndOfData(k);
    }
  }
  FrameHeader k;
  parseFrame(all, k);
  return 0;
}
