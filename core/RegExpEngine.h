#pragma once

// A backtracking regular-expression engine for 8-bit text (one byte per
// character). The search uses one engine per test: create it, set the
// modifiers, set the expression, Exec once, read the match.
//
// The matcher never recurses: choice points and the undo records of captures
// and loop counters live on a heap stack, so a pattern that loops through a
// group over a megabyte of text costs memory, not native stack.

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class ERegExpEngine : public std::runtime_error {
public:
  ERegExpEngine(const std::string& message, int code, int position)
      : std::runtime_error(message), Code(code), Position(position) {}
  int Code;      // the error code (see TRegExpEngine::ErrorText)
  int Position;  // the compile position; 0 for run-time errors
};

class TRegExpEngine {
public:
  // Modifier indices for SetModifierFlag, in this order.
  enum Modifier { modI = 1, modR, modS, modG, modM, modX };
  static constexpr int kSlotCount = 15;  // slot 0 is the whole match
  static constexpr int kLoopStackMax = 10;
  // The most matcher steps one attempt at one start position may take; past
  // it the search raises 1016 ("... Step Limit Exceeded matching "<expression>"").
  // Backtracking that grows exponentially with the subject ends here instead
  // of running for ever; a plain pattern needs a few steps per character.
  static constexpr std::int64_t kStepLimit = 10'000'000;

  TRegExpEngine();
  virtual ~TRegExpEngine();
  TRegExpEngine(const TRegExpEngine&) = delete;
  TRegExpEngine& operator=(const TRegExpEngine&) = delete;

  // Stores the code as the last error and throws ERegExpEngine; compile errors
  // (codes below 1000) carry " (pos N)".
  [[noreturn]] virtual void RaiseError(int code);
  virtual std::string ErrorText(int code) const;

  // index 1..6 = i, r, s, g, m, x; any other index raises 1013.
  void SetModifierFlag(int index, bool on);
  bool ModifierFlag(int index) const;

  void SetExpression(std::string_view text);
  // The expression, empty when none is assigned.
  const std::string& Expression() const { return expression_; }

  void SetInputString(std::string_view text);

  // Sets the input and searches from position 1.
  bool Exec(std::string_view text);
  // Searches the current input from a 1-based offset. Raises 1003 without an
  // expression, 1005 without input, 1006 for offset <= 0; compile errors too.
  bool ExecFromOffset(int offset);

  // -1 without input; else the highest group slot (1..14) that is set, 0 when none.
  int MatchedGroupCount() const;
  // The text of a slot; empty for an unset slot, another index or no input.
  std::string GroupText(int slot) const;
  // 1-based start and length of a slot; -1 when unset (or no input).
  int MatchPos(int slot) const;
  int MatchLen(int slot) const;

  // Two different characters (head, tail), or empty for none; else raises 128.
  void SetLinePairedSeparator(std::string_view text);
  std::string LinePairedSeparator() const;
  // Character settings used by \s, \w, \b and the line anchors.
  void SetSpaceChars(std::string_view chars);
  void SetWordChars(std::string_view chars);
  void SetLineSeparators(std::string_view chars);
  const std::string& SpaceChars() const { return spaceChars_; }
  const std::string& WordChars() const { return wordChars_; }
  const std::string& LineSeparators() const { return lineSeparators_; }

  // During compilation the parse offset in the expression; else 0.
  int ErrorPosition() const { return compiling_ ? parsePos_ : 0; }
  int LastError() const { return lastError_; }

  // The system's upper-case form of a character when it differs, else its
  // lower-case form, in the active code page. With UTF-8 as the code page a
  // single byte above 127 is no character of its own and keeps its value.
  static unsigned char ToggleCase(unsigned char c);

  // Builds the program from the expression; Exec calls it when needed.
  void CompileProgram();

  // Whether a text made only of `chars` may match. False when the program
  // needs a character outside them (a required literal, or every character
  // a match can start with): Exec then answers false for such a text without
  // taking a single matcher step, so a caller may skip the text unread.
  // Compiles like Exec.
  bool MayMatchWithin(const std::bitset<256>& chars);

  // Opaque to users; defined in the .cpp.
  struct Node;
  struct Program;
  struct Parser;
  struct Matcher;

private:
  void dropProgram();

  std::string expression_;
  bool expressionAssigned_ = false;
  unsigned modifiers_;
  std::string spaceChars_;
  std::string wordChars_;
  std::string lineSeparators_;
  bool hasPair_ = true;
  unsigned char pairHead_ = '\r';
  unsigned char pairTail_ = '\n';
  std::array<unsigned char, 256> toggle_{};

  std::unique_ptr<Program> program_;
  std::unique_ptr<Matcher> matcher_;  // keeps its stack's capacity between searches
  unsigned programModifiers_ = 0;

  bool hasInput_ = false;
  std::string input_;
  std::array<std::ptrdiff_t, kSlotCount> startp_{};
  std::array<std::ptrdiff_t, kSlotCount> endp_{};

  bool compiling_ = false;
  int parsePos_ = 0;
  int lastError_ = 0;
};
