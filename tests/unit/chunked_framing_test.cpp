// The framing of chunked bodies: only a body through its last chunk and the
// blank line after the trailers is complete, however it is cut into pieces.
#include "core/chunked_framing.h"

#include <gtest/gtest.h>
#include <string>

namespace brindlex {
namespace {

// Follows `body` in pieces of `piece` bytes.
ChunkedFraming Follow(const std::string& body, size_t piece) {
  ChunkedFraming framing;
  for (size_t at = 0; at < body.size(); at += piece)
    FollowChunkedFraming(framing, body.data() + at, std::min(piece, body.size() - at));
  return framing;
}

TEST(ChunkedFraming, AWholeBodyIsCompleteInAnyPiecesAndEachCutOfItIsNot) {
  const std::string bodies[] = {
      "5\r\nhello\r\n0\r\n\r\n",
      "A;name=value\r\n0123456789\r\n1a \r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\nX-Trailer: 1\r\nY: 2\r\n\r\n",
      "3\n0\r\n\n0\n\n",  // bare line feeds; data that looks like a last chunk
      "0\r\n\r\n",
  };
  for (const std::string& body : bodies) {
    for (size_t piece : {size_t{1}, size_t{2}, size_t{5}, body.size()}) {
      EXPECT_TRUE(ChunkedBodyComplete(Follow(body, piece))) << body << " in pieces of " << piece;
    }
    for (size_t cut = 0; cut < body.size(); ++cut)
      EXPECT_FALSE(ChunkedBodyComplete(Follow(body.substr(0, cut), 3))) << body << " cut at " << cut;
  }
}

TEST(ChunkedFraming, BytesAfterTheEndAreIgnoredAndBrokenFramingStaysBroken) {
  EXPECT_TRUE(ChunkedBodyComplete(Follow("2\r\nok\r\n0\r\n\r\nHTTP/1.1 200 OK\r\n", 4)));
  const std::string broken[] = {
      "\r\n0\r\n\r\n",                     // no size at all
      "g\r\n0\r\n\r\n",                    // not hexadecimal
      "2\r\nokX\r\n0\r\n\r\n",             // the chunk runs past its size
      "fffffffffffffffffff\r\n0\r\n\r\n",  // a size no body has
      ";ext\r\n0\r\n\r\n",                 // an extension without a size
  };
  for (const std::string& body : broken) EXPECT_FALSE(ChunkedBodyComplete(Follow(body, 1))) << body;
}

}  // namespace
}  // namespace brindlex
