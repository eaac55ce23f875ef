// The byte-to-record decoding, without a terminal: keys, and the keyboard
// protocol's reports.
#include "winapi/term_input.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "tests/winapi/decoded_keys.h"

namespace {

using namespace decoded;

TEST(Decoder, CharactersGiveTheirKeyAndCharacter) {
  EXPECT_EQ(KeysOf({"a"}), (std::vector<Key>{{'A', 'a', 0}}));
  EXPECT_EQ(KeysOf({"Z"}), (std::vector<Key>{{'Z', 'Z', SHIFT_PRESSED}}));
  EXPECT_EQ(KeysOf({"7 "}),
            (std::vector<Key>{{'7', '7', 0}, {VK_SPACE, ' ', 0}}));
  EXPECT_EQ(KeysOf({"/?"}), (std::vector<Key>{{VK_OEM_2, '/', 0},
                                              {VK_OEM_2, '?', SHIFT_PRESSED}}));
  EXPECT_EQ(KeysOf({"(~"}), (std::vector<Key>{{'9', '(', SHIFT_PRESSED},
                                              {VK_OEM_3, '~', SHIFT_PRESSED}}));
}

TEST(Decoder, ControlKeys) {
  EXPECT_EQ(KeysOf({"\r"}), (std::vector<Key>{{VK_RETURN, 13, 0}}));
  EXPECT_EQ(KeysOf({"\t"}), (std::vector<Key>{{VK_TAB, 9, 0}}));
  // Terminals send DEL or BS for Backspace; both are Backspace here.
  EXPECT_EQ(KeysOf({"\x7f\x08"}),
            (std::vector<Key>{{VK_BACK, 8, 0}, {VK_BACK, 8, 0}}));
  EXPECT_EQ(KeysOf({"\x01\x1a"}),
            (std::vector<Key>{{'A', 1, LEFT_CTRL_PRESSED},
                              {'Z', 26, LEFT_CTRL_PRESSED}}));
}

TEST(Decoder, LoneEscapeIsTheEscapeKeyOnceItExpires) {
  term::InputDecoder decoder;
  term::Decoded out;
  decoder.Feed("\x1b", out);
  EXPECT_TRUE(decoder.Holding());
  EXPECT_TRUE(out.keys.empty());
  decoder.Expire(out);
  EXPECT_FALSE(decoder.Holding());
  EXPECT_EQ(Keys(out.keys), (std::vector<Key>{{VK_ESCAPE, 27, 0}}));
  // Two in a row: the first is a key at once, the second waits.
  EXPECT_EQ(KeysOf({"\x1b\x1b"}),
            (std::vector<Key>{{VK_ESCAPE, 27, 0}, {VK_ESCAPE, 27, 0}}));
  // ESC with a key straight after it is that key with Alt.
  EXPECT_EQ(KeysOf({"\x1bx"}),
            (std::vector<Key>{{'X', 'x', LEFT_ALT_PRESSED}}));
  // An unfinished sequence that expires was typed: ESC, then its characters.
  EXPECT_EQ(KeysOf({"\x1b["}),
            (std::vector<Key>{{VK_ESCAPE, 27, 0}, {VK_OEM_4, '[', 0}}));
}

TEST(Decoder, EscapeSequencesGiveKeysWithoutACharacter) {
  struct Case {
    const char* bytes;
    Key key;
  };
  const DWORD e = ENHANCED_KEY;
  for (const Case& c : std::initializer_list<Case>{
           {"\x1b[A", {VK_UP, 0, e}},
           {"\x1b[B", {VK_DOWN, 0, e}},
           {"\x1b[C", {VK_RIGHT, 0, e}},
           {"\x1b[D", {VK_LEFT, 0, e}},
           {"\x1bOA", {VK_UP, 0, e}},
           {"\x1b[H", {VK_HOME, 0, e}},
           {"\x1bOF", {VK_END, 0, e}},
           {"\x1b[2~", {VK_INSERT, 0, e}},
           {"\x1b[3~", {VK_DELETE, 0, e}},
           {"\x1b[5~", {VK_PRIOR, 0, e}},
           {"\x1b[6~", {VK_NEXT, 0, e}},
           {"\x1bOP", {VK_F1, 0, 0}},
           {"\x1bOR", {VK_F3, 0, 0}},
           {"\x1b[15~", {VK_F5, 0, 0}},
           {"\x1b[24~", {VK_F12, 0, 0}},
           {"\x1b[1;5C", {VK_RIGHT, 0, e | LEFT_CTRL_PRESSED}},
           {"\x1b[15;2~", {VK_F5, 0, SHIFT_PRESSED}},
           {"\x1b[1;3A", {VK_UP, 0, e | LEFT_ALT_PRESSED}},
       }) {
    EXPECT_EQ(KeysOf({c.bytes}), std::vector<Key>{c.key}) << c.bytes + 1;
  }
  // Shift+Tab is still the Tab key, with its character.
  EXPECT_EQ(KeysOf({"\x1b[Z"}), (std::vector<Key>{{VK_TAB, 9, SHIFT_PRESSED}}));
  // The keypad's Enter in application mode is Enter.
  EXPECT_EQ(KeysOf({"\x1bOM"}), (std::vector<Key>{{VK_RETURN, 13, e}}));
}

TEST(Decoder, UnknownSequencesAreDroppedWhole) {
  EXPECT_TRUE(KeysOf({"\x1b[99~"}).empty());
  EXPECT_TRUE(KeysOf({"\x1b[?1;2c"}).empty());  // a device attributes answer
  EXPECT_TRUE(KeysOf({"\x1b[200~"}).empty());
  // An overlong one is read to its end and gives nothing either.
  EXPECT_TRUE(KeysOf({"\x1b[" + std::string(100, '1') + "~"}).empty());
  // A control character breaks a sequence off and is a key of its own.
  EXPECT_EQ(KeysOf({"\x1b[1\r"}), (std::vector<Key>{{VK_RETURN, 13, 0}}));
}

// What a terminal sends of its own (answers to questions a program before
// this one asked, mouse reports) is never a key, in any form, however the
// reads split it: typed between two keys, only the two keys come out.
TEST(Decoder, NonAsciiCharacterIsOneKeyWithAQuestionMark) {
  const Key q{0, '?', 0};
  EXPECT_EQ(KeysOf({"\xc3\xa9"}), std::vector<Key>{q});          // é
  EXPECT_EQ(KeysOf({"\xe2\x82\xac"}), std::vector<Key>{q});      // €
  EXPECT_EQ(KeysOf({"\xf0\x9f\x8e\xb5"}), std::vector<Key>{q});  // 🎵
  EXPECT_EQ(KeysOf({"\xc3\xa9\xc3\xa9x"}),
            (std::vector<Key>{q, q, {'X', 'x', 0}}));
  // Broken UTF-8: a stray continuation byte, a byte that never starts one,
  // a character cut short by an ASCII one.
  EXPECT_EQ(KeysOf({"\x80"}), std::vector<Key>{q});
  EXPECT_EQ(KeysOf({"\xff"}), std::vector<Key>{q});
  EXPECT_EQ(KeysOf({"\xe2\x82z"}), (std::vector<Key>{q, {'Z', 'z', 0}}));
  // Cut short by the end of input: one key once it expires.
  EXPECT_EQ(KeysOf({"\xe2\x82"}), std::vector<Key>{q});
}

TEST(Decoder, SequencesSplitAcrossReads) {
  term::InputDecoder decoder;
  term::Decoded out;
  for (const char* piece : {"\x1b", "[", "1", "5", "~"}) {
    EXPECT_TRUE(out.keys.empty());
    decoder.Feed(piece, out);
  }
  EXPECT_FALSE(decoder.Holding());
  EXPECT_EQ(Keys(out.keys), (std::vector<Key>{{VK_F5, 0, 0}}));

  EXPECT_EQ(KeysOf({"\xe2", "\x82", "\xac"}), (std::vector<Key>{{0, '?', 0}}));
  term::Decoded report = Decode({"\x1b[", "3", "1;", "1", "2R"});
  EXPECT_TRUE(report.keys.empty());
  ASSERT_EQ(report.reports.size(), 1u);
  EXPECT_EQ(report.reports[0].row, 31);
  EXPECT_EQ(report.reports[0].column, 12);
}

TEST(Decoder, CursorReportAmongTypedKeys) {
  term::Decoded out = Decode({"a\x1b[12;40Rb", "\x1b[A\x1b[1;1R\r"});
  EXPECT_EQ(Keys(out.keys), (std::vector<Key>{{'A', 'a', 0},
                                              {'B', 'b', 0},
                                              {VK_UP, 0, ENHANCED_KEY},
                                              {VK_RETURN, 13, 0}}));
  ASSERT_EQ(out.reports.size(), 2u);
  EXPECT_EQ(out.reports[0].row, 12);
  EXPECT_EQ(out.reports[0].column, 40);
  EXPECT_EQ(out.reports[1].row, 1);
  EXPECT_EQ(out.reports[1].column, 1);
}

// ---- Terminals that report presses, repeats and releases.

// One record as the tests speak of it.
struct Event {
  bool down;
  WORD vk;
  int ascii;
  DWORD state;
  bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Event& e) {
  return out << "{" << (e.down ? "down" : "up") << ", vk " << e.vk << ", ascii "
             << e.ascii << ", state " << e.state << "}";
}

std::vector<Event> Events(const std::vector<INPUT_RECORD>& records) {
  std::vector<Event> events;
  for (const INPUT_RECORD& r : records) {
    const KEY_EVENT_RECORD& k = r.Event.KeyEvent;
    EXPECT_EQ(r.EventType, KEY_EVENT);
    EXPECT_EQ(k.wRepeatCount, 1);
    EXPECT_EQ(k.uChar.UnicodeChar & 0xFF00, 0);
    events.push_back(Event{k.bKeyDown != FALSE, k.wVirtualKeyCode,
                           static_cast<unsigned char>(k.uChar.AsciiChar),
                           k.dwControlKeyState});
  }
  return events;
}

// Decodes the pieces as separate reads with the terminal's event reports on.
std::vector<Event> Reported(std::initializer_list<std::string> pieces) {
  term::InputDecoder decoder;
  decoder.ReportEvents(true);
  term::Decoded out;
  for (const std::string& piece : pieces) decoder.Feed(piece, out);
  decoder.Expire(out);
  EXPECT_TRUE(out.reports.empty());
  return Events(out.keys);
}

// The press and the release of one key.
std::vector<Event> Both(WORD vk, int ascii, DWORD state) {
  return {{true, vk, ascii, state}, {false, vk, ascii, state}};
}

TEST(KeyReports, PressRepeatsAndReleaseAreOneRecordEach) {
  const Event down{true, 'Q', 'q', 0};
  const Event up{false, 'Q', 'q', 0};
  EXPECT_EQ(
      Reported({"\x1b[113u", "\x1b[113;1:2u\x1b[113;1:2u", "\x1b[113;1:3u"}),
      (std::vector<Event>{down, down, down, up}));
  // The event field given for a press too, and a sequence split anywhere.
  EXPECT_EQ(Reported({"\x1b[113;1:1u\x1b[11", "3;", "1:", "3", "u"}),
            (std::vector<Event>{down, up}));
}

TEST(KeyReports, ReleaseCountsOnlyForAKeySeenDown) {
  // The Enter that started the program, let go once the reports are on.
  EXPECT_TRUE(Reported({"\x1b[13;1:3u"}).empty());
  // A second release of the same key, and one of another key.
  EXPECT_EQ(Reported({"\x1b[97u\x1b[97;1:3u\x1b[97;1:3u\x1b[98;1:3u"}),
            (std::vector<Event>{{true, 'A', 'a', 0}, {false, 'A', 'a', 0}}));
  // A key first seen repeating was down: its release counts.
  EXPECT_EQ(Reported({"\x1b[13;1:2u\x1b[13;1:3u"}),
            (std::vector<Event>{{true, VK_RETURN, 13, 0},
                                {false, VK_RETURN, 13, 0}}));
  // A press forgotten (the program was stopped meanwhile) is not matched.
  term::InputDecoder decoder;
  decoder.ReportEvents(true);
  term::Decoded out;
  decoder.Feed("\x1b[97u", out);
  decoder.ForgetPressed();
  decoder.Feed("\x1b[97;1:3u", out);
  EXPECT_EQ(Events(out.keys), (std::vector<Event>{{true, 'A', 'a', 0}}));
}

TEST(KeyReports, CharactersFollowShiftCtrlAndCapsLock) {
  const DWORD shift = SHIFT_PRESSED;
  const DWORD ctrl = LEFT_CTRL_PRESSED;
  // Shift with the shifted key reported, and without it (a US layout).
  EXPECT_EQ(Reported({"\x1b[97:65;2u"}),
            (std::vector<Event>{{true, 'A', 'A', shift}}));
  EXPECT_EQ(Reported({"\x1b[97;2u"}),
            (std::vector<Event>{{true, 'A', 'A', shift}}));
  EXPECT_EQ(Reported({"\x1b[49:33;2u", "\x1b[47;2u"}),
            (std::vector<Event>{{true, '1', '!', shift},
                                {true, VK_OEM_2, '?', shift}}));
  // A layout whose Shift+2 gives '"' says so.
  EXPECT_EQ(Reported({"\x1b[50:34;2u"}),
            (std::vector<Event>{{true, '2', '"', shift}}));
  // The release after Shift was let go gives the plain character.
  EXPECT_EQ(
      Reported({"\x1b[97:65;2u\x1b[97;1:3u"}),
      (std::vector<Event>{{true, 'A', 'A', shift}, {false, 'A', 'a', 0}}));
  // Caps Lock turns the case round; with Shift back again.
  EXPECT_EQ(Reported({"\x1b[97;65u", "\x1b[98;66u"}),
            (std::vector<Event>{{true, 'A', 'A', CAPSLOCK_ON},
                                {true, 'B', 'b', CAPSLOCK_ON | shift}}));
  // Ctrl gives the control characters, Alt leaves the character.
  EXPECT_EQ(Reported({"\x1b[99;5u", "\x1b[122;5u", "\x1b[91;5u", "\x1b[92;5u",
                      "\x1b[49;5u", "\x1b[120;3u"}),
            (std::vector<Event>{{true, 'C', 3, ctrl},
                                {true, 'Z', 26, ctrl},
                                {true, VK_OEM_4, 27, ctrl},
                                {true, VK_OEM_5, 28, ctrl},
                                {true, '1', 0, ctrl},
                                {true, 'X', 'x', LEFT_ALT_PRESSED}}));
}

TEST(KeyReports, KeysWithTheirCodes) {
  const DWORD e = ENHANCED_KEY;
  struct Case {
    const char* bytes;
    Event event;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"\x1b[13u", {true, VK_RETURN, 13, 0}},
           {"\x1b[9u", {true, VK_TAB, 9, 0}},
           {"\x1b[9;2u", {true, VK_TAB, 9, SHIFT_PRESSED}},
           {"\x1b[127u", {true, VK_BACK, 8, 0}},
           {"\x1b[27u", {true, VK_ESCAPE, 27, 0}},
           {"\x1b[32u", {true, VK_SPACE, ' ', 0}},
           {"\x1b[233u", {true, 0, '?', 0}},  // é, on a French keyboard
           {"\x1b[57441;2u", {true, VK_SHIFT, 0, SHIFT_PRESSED}},
           {"\x1b[57447u", {true, VK_SHIFT, 0, 0}},
           {"\x1b[57442;5u", {true, VK_CONTROL, 0, LEFT_CTRL_PRESSED}},
           {"\x1b[57448u", {true, VK_CONTROL, 0, e}},
           {"\x1b[57443u", {true, VK_MENU, 0, 0}},
           {"\x1b[57358u", {true, VK_CAPITAL, 0, 0}},
           {"\x1b[57376u", {true, VK_F13, 0, 0}},
           {"\x1b[57399;129u", {true, VK_NUMPAD0, '0', NUMLOCK_ON}},
           {"\x1b[57414u", {true, VK_RETURN, 13, e}},
           {"\x1b[57417u", {true, VK_LEFT, 0, 0}},
           // The forms kept from before, with the event after the modifiers.
           {"\x1b[A", {true, VK_UP, 0, e}},
           {"\x1b[1;5:1D", {true, VK_LEFT, 0, e | LEFT_CTRL_PRESSED}},
           {"\x1b[H", {true, VK_HOME, 0, e}},
           {"\x1b[F", {true, VK_END, 0, e}},
           {"\x1b[P", {true, VK_F1, 0, 0}},
           {"\x1b[1;2:2Q", {true, VK_F2, 0, SHIFT_PRESSED}},
           {"\x1b[13~", {true, VK_F3, 0, 0}},
           {"\x1b[S", {true, VK_F4, 0, 0}},
           {"\x1b[3;1:1~", {true, VK_DELETE, 0, e}},
           {"\x1b[24;3~", {true, VK_F12, 0, LEFT_ALT_PRESSED}},
       }) {
    std::vector<Event> got = Reported({c.bytes});
    EXPECT_EQ(got, std::vector<Event>{c.event}) << c.bytes + 1;
  }
  // A release matched with its press, in the forms kept from before.
  EXPECT_EQ(Reported({"\x1b[A\x1b[1;1:3A", "\x1b[5~\x1b[5;1:3~"}),
            (std::vector<Event>{{true, VK_UP, 0, e},
                                {false, VK_UP, 0, e},
                                {true, VK_PRIOR, 0, e},
                                {false, VK_PRIOR, 0, e}}));
  // Keys the console has no key for, codes past Unicode, events the
  // protocol does not have: nothing.
  EXPECT_TRUE(Reported({"\x1b[57428u", "\x1b[57445u", "\x1b[1114112u",
                        "\x1b[97;1:4u", "\x1b[65u"})
                  .empty());
}

TEST(KeyReports, PlainBytesAreStillAPressAndARelease) {
  // Pasted text is not reported key by key.
  EXPECT_EQ(Reported({"hi"}), ([] {
              std::vector<Event> v = Both('H', 'h', 0);
              for (const Event& e : Both('I', 'i', 0)) v.push_back(e);
              return v;
            }()));
  // And a report before the reports are on (modifyOtherKeys style) too.
  EXPECT_EQ(KeysOf({"\x1b[97;5u", "\x1b[97:65;2u"}),
            (std::vector<Key>{{'A', 1, LEFT_CTRL_PRESSED},
                              {'A', 'A', SHIFT_PRESSED}}));
}

TEST(KeyReports, AnswersToTheProtocolQuery) {
  // A terminal that speaks it answers with its flags, then the attributes.
  term::Decoded both = Decode({"\x1b[?0u\x1b[?62;", "22c"});
  EXPECT_EQ(both.protocol_flags, std::vector<int>{0});
  EXPECT_EQ(both.attribute_answers, 1);
  EXPECT_TRUE(both.keys.empty());
  // One that does not, only with the attributes; keys around the answer.
  term::Decoded one = Decode({"a\x1b[?1;2c", "b"});
  EXPECT_TRUE(one.protocol_flags.empty());
  EXPECT_EQ(one.attribute_answers, 1);
  EXPECT_EQ(Keys(one.keys), (std::vector<Key>{{'A', 'a', 0}, {'B', 'b', 0}}));
  EXPECT_EQ(Decode({"\x1b[?15u"}).protocol_flags, std::vector<int>{15});
  // A cursor report still reads as one with the event fields parsed.
  term::Decoded report = Decode({"\x1b[12;40R"});
  ASSERT_EQ(report.reports.size(), 1u);
  EXPECT_EQ(report.reports[0].column, 40);
}

}  // namespace
