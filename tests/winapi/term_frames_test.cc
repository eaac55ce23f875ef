// The grammar of what a terminal sends, through the decoder: control
// strings, mouse reports and sequences no key has give nothing, split
// anywhere; what is held waits as long as it could still be typed.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "tests/winapi/decoded_keys.h"
#include "winapi/term_input.h"

namespace {

using namespace decoded;

TEST(Decoder, ControlStringsAndMouseReportsAreNeverKeys) {
  using namespace std::string_literals;
  for (const std::string& sent : {
           "\x1b]11;rgb:0/0/0\a"s,               // OSC, ended by BEL
           "\x1b]11;rgb:ffff/ffff/ffff\x1b\\"s,  // and by ST
           "\x1bP1$r0m\x1b\\"s,                  // DECRQSS
           "\x1bP>|xterm(379)\x1b\\"s,           // XTVERSION
           "\x1b_Gi=1;OK\x1b\\"s,                // APC
           "\x1b^privacy\x1b\\"s,                // PM
           "\x1bXstart\x1b\\"s,                  // SOS
           "\x9d"
           "11;rgb:0/0/0\x9c"s,  // 8-bit OSC and ST
           "\x90"
           "1$r0m\x1b\\"s,     // 8-bit DCS
           "\x1b[?2004;2$y"s,  // DECRQM
           "\x1b[>0;276;0c"s,  // secondary DA
           "\x9b"
           "?1;2c"s,                    // 8-bit CSI
           "\x1b[M !!"s,                // X10 mouse
           "\x1b[M\xff\xff\xff"s,       // X10, far right
           "\x1b[M\x20\x00\x21"s,       // X10, past 223
           "\x1b[M \xc4\x80\xc4\x80"s,  // UTF-8 (1005)
           "\x1b[<0;10;5M"s,
           "\x1b[<0;10;5m"s,                         // SGR press, release
           "\x1b[32;10;5M"s,                         // urxvt
           "\x1b[1;5" + std::string(40, '1') + "A",  // an overlong CSI
       }) {
    for (std::size_t cut = 0; cut <= sent.size(); ++cut) {
      EXPECT_EQ(KeysOf({"a" + sent.substr(0, cut), sent.substr(cut) + "b"}),
                (std::vector<Key>{{'A', 'a', 0}, {'B', 'b', 0}}))
          << testing::PrintToString(sent) << " cut at " << cut;
    }
  }
}

TEST(Decoder, WhatIsHeldWaitsAsLongAsItCouldStillBeTyped) {
  term::InputDecoder decoder;
  term::Decoded out;
  for (const auto& [bytes, wait] :
       std::initializer_list<std::pair<const char*, term::Hold>>{
           {"\x1b", term::Hold::kTyped},
           {"\x1b]", term::Hold::kTyped},
           {"\xc3", term::Hold::kTyped},
           {"\x1b[1", term::Hold::kAnswer},
           {"\x1b]1", term::Hold::kAnswer},
           {"\x1b[M", term::Hold::kAnswer},
           {"\x1b[A", term::Hold::kNone}}) {
    decoder.Feed(bytes, out);
    EXPECT_EQ(decoder.HeldWait(), wait) << bytes + 1;
    decoder.Reset();
  }
  // Cut short: what could be typed is keys, an answer gives nothing.
  EXPECT_EQ(KeysOf({"\x1b]"}),
            (std::vector<Key>{{VK_ESCAPE, 27, 0}, {VK_OEM_6, ']', 0}}));
  EXPECT_TRUE(KeysOf({"\x1b]11;rgb:0"}).empty());
  EXPECT_TRUE(KeysOf({"\x1b[M !"}).empty());
  EXPECT_TRUE(KeysOf({"\x1bP1$r0m\x1b"}).empty());
  // An ESC that is not ST ends the string and starts a key of its own.
  EXPECT_EQ(KeysOf({"\x1b]11;rgb\x1b[A"}),
            (std::vector<Key>{{VK_UP, 0, ENHANCED_KEY}}));
  // So does one inside a mouse report; a report whose last value is a lead
  // byte takes the next byte only when it continues the character.
  EXPECT_EQ(KeysOf({"\x1b[M \x1b[Bx"}),
            (std::vector<Key>{{VK_DOWN, 0, ENHANCED_KEY}, {'X', 'x', 0}}));
  EXPECT_EQ(KeysOf({"\x1b[M !\xc4x"}), (std::vector<Key>{{'X', 'x', 0}}));
}

}  // namespace
