// Feeds arbitrary bytes to the .reg reader with a sink that stores what an
// import would: it must never crash, and every value line it accepts must
// format back to a line that reads to the same name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/RegFileParser.h"

namespace {

class CheckingSink : public RegFileSink {
public:
  explicit CheckingSink(RegFileVersion version) : version_(version) {}
  bool regKey(std::string_view, std::string_view, bool deleted) override { return !deleted; }
  void regValue(const RegFileValueLine& value) override {
    if (value.deleted) return;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> stored;
    if (!RegFileDataToStored(value.data, version_, type, stored)) return;
    for (const bool unicode : {false, true}) {
      const std::string line = FormatRegValueLine(value.name, type, stored, unicode);
      if (line.starts_with("//")) continue;
      std::string joined;
      for (std::size_t i = 0; i < line.size(); ++i) {
        if (line.compare(i, 5, "\\\r\n  ") == 0) {
          i += 4;
          continue;
        }
        joined.push_back(line[i]);
      }
      const RegFileValueLine back = RegFileParser::splitValueLine(joined, unicode ? RegFileVersion::v5
                                                                                  : RegFileVersion::v4);
      // A name holding a double quote can be ambiguous: the text writes such
      // quotes unescaped. Any other name must come back.
      if (value.name.find('"') == std::string::npos && back.name != value.name) std::abort();
    }
  }

private:
  RegFileVersion version_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  RegFileVersion version = RegFileVersion::unknown;
  if (!ReadRegFileLines(bytes, lines, version)) {
    // Not a file: take the bytes as lines of unknown version.
    lines = {"REGEDIT4", ""};
    std::string line;
    for (const char c : bytes) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line.push_back(c);
      }
    }
    lines.push_back(line);
    version = RegFileVersion::unknown;
  }
  CheckingSink sink(version);
  RegFileParser parser(sink, version, true);
  parser.parseLines(lines);
  return 0;
}
