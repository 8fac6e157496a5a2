#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/SystemError.h"

namespace korvane::platform {
namespace {

TEST(SystemError, TextNamesTheCallAndTheSystemsReason) {
  struct Row {
    SystemError error;
    std::string text;
  };
  const Row rows[] = {
      {{"sendmsg", EPIPE}, "sendmsg: Broken pipe"},
      {{"recv", ECONNRESET}, "recv: Connection reset by peer"},
      // The call may carry what it acted on, as the failing step's message shows it.
      {{"connect 127.0.0.1:7470", ECONNREFUSED}, "connect 127.0.0.1:7470: Connection refused"},
      {{"open /srv/ini/Tollmar.ini", ENOENT},
       "open /srv/ini/Tollmar.ini: No such file or directory"},
      // A number the system has no text for still reads as a number.
      {{"ioctl", 99999}, "ioctl: Unknown error 99999"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    errno = EINTR;
    EXPECT_EQ(row.error.text(), row.text);
    EXPECT_EQ(errno, EINTR);  // reporting one failure does not disturb the next check of errno
  }
}

}  // namespace
}  // namespace korvane::platform
