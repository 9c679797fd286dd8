#include "app_link/app_messages.h"

#include <gtest/gtest.h>

#include "main/framing.h"
#include "main/host_mode.h"
#include "support/memory_channel.h"

namespace host {
namespace {

using test::frame_bytes;
using test::RecordingWriter;

constexpr std::string_view origin = "chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/";

TEST(TransportAuth, MembersInWireOrderAndNonceEscaped) {
  struct Case {
    std::string nonce;
    std::string expected_nonce_text;
  };
  const Case cases[] = {
      {"", R"("")"},
      {"0123abcd", R"("0123abcd")"},
      {"q\"b\\c\x01", R"("q\"b\\c\u0001")"},
      {"\xC3\xA9t\xC3\xA9", "\"\xC3\xA9t\xC3\xA9\""},
  };
  for (const auto& c : cases) {
    RecordingWriter pipe(/*max_chunk=*/5);
    ASSERT_TRUE(send_transport_auth(pipe, c.nonce, origin));
    const std::string body = R"({"nonce":)" + c.expected_nonce_text +
                             R"(,"origin":"chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/","type":"transportAuth"})";
    EXPECT_EQ(pipe.written, frame_bytes(body)) << c.nonce;
    EXPECT_EQ(body.size(), 99 + c.expected_nonce_text.size() - 2);
  }
}

TEST(TransportAuth, OversizedNonceFailsBeforeAnythingIsWritten) {
  RecordingWriter pipe;
  const std::string nonce(MAX_FRAME_LEN, 'n');
  auto result = send_transport_auth(pipe, nonce, origin);
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is(ErrorKind::InvalidData, msg::invalid_frame_size));
  EXPECT_EQ(pipe.calls, 0u);

  // The largest nonce that still fits: 99 bytes of payload around it.
  RecordingWriter fits;
  EXPECT_TRUE(send_transport_auth(fits, std::string(MAX_FRAME_LEN - 99, 'n'), origin));
  EXPECT_EQ(fits.written.size(), 4 + MAX_FRAME_LEN);
}

TEST(PrepareUpdate, IsAlwaysTheSame87Bytes) {
  RecordingWriter pipe;
  ASSERT_TRUE(send_prepare_update(pipe));
  const std::string expected =
      std::string("\x53\x00\x00\x00", 4) +
      R"({"operation":"prepareUpdate","protocol":{"major":1,"minor":0},"type":"maintenance"})";
  EXPECT_EQ(pipe.written, expected);
  EXPECT_EQ(pipe.written.size(), 87u);
}

TEST(AppMessages, PipeFailureIsPassedUp) {
  RecordingWriter pipe;
  pipe.accept_budget = 4;  // the header goes through, the body does not
  pipe.failure = HostError::os(win_error::no_data);
  auto result = send_prepare_update(pipe);
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is_os(win_error::no_data));
  EXPECT_EQ(pipe.written, std::string("\x53\x00\x00\x00", 4));
}

}  // namespace
}  // namespace host
