#include "tools/devsim/RecordQueryHandler.h"

#include <vector>

namespace devsim {

namespace wire = devlink::wire;

bool RecordQueryHandler::handle(RequestReply& reply, const wire::Message& request) {
  wire::RecordQueryRequest r;
  if (!wire::decode(request.body, r)) {
    reply.send(DLSDK_ERR_INVALID_PARAMETER);
    return false;
  }
  if (liveOnly_) return reply.send(DLSDK_ERR_NO_PERMISSION);
  const DevSimOptions& options = device_.options();
  const int64_t from = *wire::calendarSeconds(r.begin);
  const int64_t to = *wire::calendarSeconds(r.end);
  if (r.channel >= options.channels || from > to || r.typeMask == 0) {
    return reply.send(DLSDK_ERR_INVALID_PARAMETER);
  }
  // The end second is part of the window.
  std::vector<wire::RecordItem> items;
  for (const RecordingSpan& span : options.schedule.query(r.channel, from, to + 1, r.typeMask)) {
    items.push_back(wire::RecordItem{span.type, wire::timeFromCalendarSeconds(span.begin),
                                     wire::timeFromCalendarSeconds(span.end)});
  }
  return reply.send(DLSDK_OK, wire::encode(items));
}

}  // namespace devsim
