// Compression, compressed strings and the ZIP writer, checked against zlib
// itself and against unzip, zipinfo and python's zipfile.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "crashreport/zebZip.h"
#include "tests/crashreport/PythonCheck.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

using namespace zeb;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

namespace {

// Text-like data that compresses, with some noise so it is not trivial.
Bytes sampleData(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  static const std::string words[] = {"registry ", "hive ", "key ", "value ", "\r\n", "0x0000ffff ", "HKEY_USERS "};
  Bytes out;
  out.reserve(n);
  while (out.size() < n) {
    if (rng() % 8 == 0) {
      out.push_back(std::uint8_t(rng()));
    } else {
      const std::string& w = words[rng() % std::size(words)];
      out.insert(out.end(), w.begin(), w.end());
    }
  }
  out.resize(n);
  return out;
}

// zlib's own inflate of a raw stream, for a second opinion.
Bytes zlibInflateRaw(const Bytes& packed, std::size_t expected) {
  Bytes out(expected + 1);
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  z.next_in = const_cast<Bytef*>(packed.data());
  z.avail_in = uInt(packed.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

Bytes deflated(const Bytes& data) {
  Bytes packed(DeflateCapacity(data.size()));
  packed.resize(DeflateBuffer(data, packed));
  return packed;
}

std::uint32_t crcOf(const Bytes& data) { return ~Crc32Update(0xFFFFFFFF, data); }

Bytes packedString(const Bytes& text, std::uint32_t announced, std::uint32_t crc) {
  Bytes out;
  for (std::uint32_t v : {announced, 0x12345678u, crc})
    for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
  const Bytes body = deflated(text);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

void writeFile(const fs::path& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

Bytes readFile(const fs::path& path) {
  const std::string text = testsupport::readFileText(path);
  return Bytes(text.begin(), text.end());
}

}  // namespace

TEST(zebZip, DeflateBufferInflatesWithZlibAtMinus15) {
  for (std::size_t size : {std::size_t(0), std::size_t(1), std::size_t(70000), std::size_t(3 * kDataWindow + 17)}) {
    SCOPED_TRACE(size);
    const Bytes data = sampleData(size, unsigned(size));
    const Bytes packed = deflated(data);
    ASSERT_GT(packed.size(), 0u);
    EXPECT_EQ(zlibInflateRaw(packed, size), data);
    Bytes back(size);
    EXPECT_EQ(InflateBuffer(packed, back), size);
    EXPECT_EQ(back, data);
  }
}

TEST(zebZip, DeflateBufferTakesIncompressibleDataInTheGivenCapacity) {
  std::mt19937 rng(9);
  Bytes noise(200000);
  for (auto& b : noise) b = std::uint8_t(rng());
  const Bytes packed = deflated(noise);
  ASSERT_GT(packed.size(), noise.size());
  EXPECT_EQ(zlibInflateRaw(packed, noise.size()), noise);
  Bytes tooSmall(noise.size() / 2);
  EXPECT_EQ(DeflateBuffer(noise, tooSmall), 0u);
}

TEST(zebZip, InflateBufferWantsExactlyTheExpectedLengthAndAllTheInput) {
  const Bytes data = sampleData(5000, 1);
  const Bytes packed = deflated(data);
  Bytes shorter(4999), longer(5001), exact(5000);
  EXPECT_EQ(InflateBuffer(packed, shorter), 0u);
  EXPECT_EQ(InflateBuffer(packed, longer), 0u);
  Bytes trailing = packed;
  trailing.push_back(0);
  EXPECT_EQ(InflateBuffer(trailing, exact), 0u);
  const Bytes cut(packed.begin(), packed.end() - 3);
  EXPECT_EQ(InflateBuffer(cut, exact), 0u);
  EXPECT_EQ(InflateBuffer(Bytes{0xFF, 0xFF, 0xFF}, exact), 0u);
  EXPECT_EQ(InflateBuffer(packed, exact), 5000u);
}

TEST(zebZip, FileFormsStreamThroughWindowsWithOffsetAndCrc) {
  testsupport::TempDir dir;
  const Bytes data = sampleData(2 * kDataWindow + 12345, 5);
  writeFile(dir / "in", data);
  const int in = ::open((dir / "in").c_str(), O_RDONLY);
  const int out = ::open((dir / "packed").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(in, 0);
  ASSERT_GE(out, 0);
  std::uint32_t crc = 0;
  const std::uint64_t packedLength =
      DeflateData(DataSource{{}, in}, data.size(), DataSink{{}, out}, UINT64_MAX, 100, &crc);
  ASSERT_GT(packedLength, 0u);
  EXPECT_EQ(crc, crcOf(data));
  EXPECT_EQ(fs::file_size(dir / "packed"), 100 + packedLength);

  // Back from the file into a buffer, skipping the room left before the data.
  Bytes back(data.size());
  std::uint32_t backCrc = 0;
  EXPECT_EQ(InflateData(DataSource{{}, out}, packedLength, DataSink{back}, back.size(), 100, &backCrc), data.size());
  EXPECT_EQ(back, data);
  EXPECT_EQ(backCrc, crc);

  // A source shorter than announced is a failed read.
  EXPECT_EQ(DeflateData(DataSource{{}, in}, data.size() + 1, DataSink{{}, out}, UINT64_MAX), 0u);
  // A destination that cannot be written fails too.
  const int readOnly = ::open((dir / "in").c_str(), O_RDONLY);
  EXPECT_EQ(DeflateData(DataSource{data}, data.size(), DataSink{{}, readOnly}, UINT64_MAX), 0u);
  ::close(readOnly);
  ::close(in);
  ::close(out);
}

TEST(zebZip, UnpackStringChecksLengthAndCrc) {
  const Bytes text = sampleData(3000, 2);
  const std::string expected(text.begin(), text.end());
  EXPECT_EQ(UnpackString(packedString(text, 3000, crcOf(text))), expected);
  // Zeros compress about as far as deflate goes; they still read back.
  const Bytes zeros(4u << 20, 0);
  EXPECT_EQ(UnpackString(packedString(zeros, std::uint32_t(zeros.size()), crcOf(zeros))), std::string(zeros.size(), '\0'));

  struct Case {
    const char* what;
    Bytes packed;
  };
  Bytes twelve = packedString(text, 3000, crcOf(text));
  twelve.resize(12);
  const Case bad[] = {
      {"12 bytes", twelve},
      {"flipped CRC", packedString(text, 3000, crcOf(text) ^ 1)},
      {"4 GiB announced", packedString(text, 0xFFFFFFFF, crcOf(text))},
      {"just over the limit", packedString(text, kUnpackLimit + 1, crcOf(text))},
      {"shorter than announced", packedString(text, 3001, crcOf(text))},
      {"longer than announced", packedString(text, 2999, crcOf(text))},
  };
  for (const Case& c : bad) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(UnpackString(c.packed), "");
  }
}

TEST(zebZip, Crc32RegisterFormChains) {
  const Bytes data = sampleData(1000, 3);
  const std::uint32_t whole = crcOf(data);
  EXPECT_EQ(whole, std::uint32_t(crc32(0, data.data(), uInt(data.size()))));
  const std::uint32_t half = Crc32Update(0xFFFFFFFF, std::span(data).first(400));
  EXPECT_EQ(~Crc32Update(half, std::span(data).subspan(400)), whole);
  EXPECT_EQ(crcOf(Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0xCBF43926u);  // the check value
}

TEST(zebZip, ArchiveOfReadableFilesPassesTheArchiveTools) {
  testsupport::TempDir dir;
  const Bytes big = sampleData(3'000'000, 11);
  const Bytes small = sampleData(100, 12);
  writeFile(dir / "big.bin", big);
  writeFile(dir / "empty.txt", {});
  writeFile(dir / "README.TXT", small);
  ::chmod((dir / "README.TXT").c_str(), 0444);
  fs::create_directory(dir / "folder.log");  // opens, but cannot be read as a file
  const std::string archive = (dir / "report.zip").string();
  std::vector<std::string> files = {(dir / "big.bin").string(), (dir / "folder.log").string(),
                                    (dir / "empty.txt").string(), (dir / "missing.txt").string(),
                                    (dir / "README.TXT").string()};
  // Permissions keep only other users out; the administrator reads anything.
  if (::geteuid() != 0) {
    writeFile(dir / "secret.txt", small);
    ::chmod((dir / "secret.txt").c_str(), 0);
    files.push_back((dir / "secret.txt").string());
  }
  ASSERT_TRUE(WriteZipArchive(archive, files, {"", "", "renamed.txt"}));

  if (testsupport::haveTool("unzip")) {
    int status = 0;
    const std::string out = testsupport::commandOutput("unzip -t " + testsupport::shellQuote(archive) + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
  }
  if (testsupport::haveTool("zipinfo")) {
    int status = 0;
    const std::string out = testsupport::commandOutput("zipinfo -1 " + testsupport::shellQuote(archive), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "big.bin\nrenamed.txt\nREADME.TXT\n");
  }
  if (!crashtest::havePythonModule("zipfile")) GTEST_SKIP() << "no python3 for the zipfile check";
  const std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "for n, p in zip(sys.argv[2::2], sys.argv[3::2]):\n"
      "    assert z.read(n) == open(p, 'rb').read(), n\n"
      "info = {i.filename: i for i in z.infolist()}\n"
      "assert info['README.TXT'].external_attr == 0x21, hex(info['README.TXT'].external_attr)\n"
      "assert info['big.bin'].external_attr == 0x20\n"
      "assert info['big.bin'].compress_type == zipfile.ZIP_DEFLATED\n"
      "print('ok')\n";
  int status = 0;
  const std::string out = crashtest::runPython(dir.path(), script,
                                               {archive, "big.bin", (dir / "big.bin").string(), "renamed.txt",
                                                (dir / "empty.txt").string(), "README.TXT",
                                                (dir / "README.TXT").string()},
                                               &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "ok\n");
}

TEST(zebZip, ArchiveLayoutAndModificationTime) {
  testsupport::TempDir dir;
  writeFile(dir / "a.txt", Bytes{'h', 'i'});
  // 2021-03-04 05:06:08 local time.
  std::tm when{};
  when.tm_year = 121;
  when.tm_mon = 2;
  when.tm_mday = 4;
  when.tm_hour = 5;
  when.tm_min = 6;
  when.tm_sec = 8;
  when.tm_isdst = -1;
  const std::time_t t = std::mktime(&when);
  const struct timespec times[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "a.txt").c_str(), times, 0), 0);
  const std::string archive = (dir / "one.zip").string();
  ASSERT_TRUE(WriteZipArchive(archive, {(dir / "a.txt").string()}));
  const Bytes z = readFile(archive);
  auto u16 = [&](std::size_t at) { return unsigned(z[at] | z[at + 1] << 8); };
  auto u32 = [&](std::size_t at) { return std::uint32_t(u16(at) | u16(at + 2) << 16); };
  const Bytes packed = deflated({'h', 'i'});
  const std::size_t local = 30 + 5 + packed.size();
  ASSERT_EQ(z.size(), local + 46 + 5 + 22);
  EXPECT_EQ(u32(0), 0x04034B50u);
  EXPECT_EQ(u16(4), 20u);
  EXPECT_EQ(u16(8), 8u);
  EXPECT_EQ(u16(10), (5u << 11) | (6u << 5) | 4u);
  EXPECT_EQ(u16(12), (41u << 9) | (3u << 5) | 4u);
  EXPECT_EQ(u32(14), crcOf({'h', 'i'}));
  EXPECT_EQ(u32(18), packed.size());
  EXPECT_EQ(u32(22), 2u);
  EXPECT_EQ(u16(26), 5u);
  // The directory record repeats the header's middle and points back to it.
  EXPECT_EQ(u32(local), 0x02014B50u);
  EXPECT_TRUE(std::equal(z.begin() + 4, z.begin() + 28, z.begin() + long(local) + 6));
  EXPECT_EQ(u32(local + 38), 0x20u);
  EXPECT_EQ(u32(local + 42), 0u);
  const std::size_t end = local + 46 + 5;
  EXPECT_EQ(u32(end), 0x06054B50u);
  EXPECT_EQ(u16(end + 8), 1u);
  EXPECT_EQ(u16(end + 10), 1u);
  EXPECT_EQ(u32(end + 12), 51u);
  EXPECT_EQ(u32(end + 16), local);
}

TEST(zebZip, MembersTooLargeForTheFormatAreLeftOut) {
  testsupport::TempDir dir;
  // A sparse file of 4 GiB: its size alone rules it out, nothing is read.
  {
    std::ofstream(dir / "huge.img").put('\0');
  }
  std::error_code ec;
  fs::resize_file(dir / "huge.img", std::uintmax_t(1) << 32, ec);
  if (ec) GTEST_SKIP() << "no sparse file of 4 GiB here: " << ec.message();
  writeFile(dir / "small.txt", Bytes{'o', 'k'});
  const std::string archive = (dir / "two.zip").string();
  ASSERT_TRUE(WriteZipArchive(archive, {(dir / "huge.img").string(), (dir / "small.txt").string()}));
  EXPECT_LT(fs::file_size(archive), 200u);
  if (testsupport::haveTool("zipinfo")) {
    EXPECT_EQ(testsupport::commandOutput("zipinfo -1 " + testsupport::shellQuote(archive)), "small.txt\n");
  }
  // A name longer than the format's 16-bit length leaves its member out too.
  EXPECT_FALSE(WriteZipArchive(archive, {(dir / "small.txt").string()}, {std::string(70000, 'n')}));
}

TEST(zebZip, NoReadableFileLeavesNoArchive) {
  testsupport::TempDir dir;
  fs::create_directory(dir / "folder");
  const std::string archive = (dir / "none.zip").string();
  EXPECT_FALSE(WriteZipArchive(archive, {(dir / "missing").string(), (dir / "folder").string()}));
  EXPECT_FALSE(fs::exists(archive));
  EXPECT_FALSE(WriteZipArchive(archive, {}));
  EXPECT_FALSE(fs::exists(archive));
  // An archive that cannot be created.
  writeFile(dir / "a", Bytes{1});
  EXPECT_FALSE(WriteZipArchive((dir / "no" / "such" / "x.zip").string(), {(dir / "a").string()}));
}
