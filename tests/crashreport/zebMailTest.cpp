// Mail addresses, the mailto URL and the hand-over to the desktop's mail
// program through stand-ins for xdg-email and xdg-open.

#include "crashreport/zebMail.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/crashreport/FakeTools.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

using namespace zeb;

TEST(zebMail, CountMailAddressesNormalisesTheList) {
  struct Case {
    const char* in;
    const char* out;
    int count;
  } cases[] = {
      {" a@x.de ; b@y.de,, c@z.de ", "a@x.de,b@y.de,c@z.de", 3},
      {"", "", 0},
      {" ,;, ", "", 0},
      {"Joe <j@x.de>;\tk@y.de", "Joe <j@x.de>,k@y.de", 2},
      {"one@x.de", "one@x.de", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::string text = c.in;
    EXPECT_EQ(CountMailAddresses(text), c.count);
    EXPECT_EQ(text, c.out);
  }
}

TEST(zebMail, AngleAndSplitAddresses) {
  EXPECT_EQ(AngleMailAddress("Joe Doe <joe@x.de>", false), "<joe@x.de>");
  EXPECT_EQ(AngleMailAddress("Joe Doe <joe@x.de>", true), "Joe Doe <joe@x.de>");
  EXPECT_EQ(AngleMailAddress("joe@x.de", false), "<joe@x.de>");
  EXPECT_EQ(AngleMailAddress("joe@x.de", true), "<joe@x.de>");

  std::string name, address;
  SplitMailAddress("Joe Doe <joe@x.de>", name, address);
  EXPECT_EQ(name, "Joe Doe ");
  EXPECT_EQ(address, "joe@x.de");
  SplitMailAddress("Joe <joe@x.de", name, address);
  EXPECT_EQ(address, "joe@x.de");
  SplitMailAddress("joe@x.de", name, address);
  EXPECT_EQ(name, "joe@x.de");
  EXPECT_EQ(address, "joe@x.de");
}

TEST(zebMail, MailtoUrlEscapesLineBreaksAndSeparators) {
  const std::string url = MailtoUrl(" a@x.de ; b@y.de ", "bug report", "line 1\r\nA&B 100%/x?");
  EXPECT_EQ(url, "mailto:a@x.de,b@y.de?subject=bug%20report&body=line%201%0D%0AA%26B%20100%25/x%3F");
}

TEST(zebMail, LongMailtoUrlIsCutOutsideAnEscape) {
  // Bodies placing an escape across the limit at each of its three bytes.
  for (std::size_t shift = 0; shift < 3; ++shift) {
    SCOPED_TRACE(shift);
    const std::string prefix = MailtoUrl("a@x.de", "s", "");
    const std::string body = std::string(32766 - prefix.size() - 2 + shift, 'x') + std::string(20, '&');
    const std::string url = MailtoUrl("a@x.de", "s", body);
    ASSERT_LE(url.size(), 32766u);
    EXPECT_GE(url.size(), 32764u);
    const std::size_t lastPercent = url.rfind('%');
    EXPECT_TRUE(lastPercent == std::string::npos || lastPercent + 3 <= url.size()) << url.substr(url.size() - 6);
  }
}

TEST(zebMail, XdgEmailGetsOneAttachPerExistingFile) {
  crashtest::FakeTools tools;
  tools.add("xdg-email", 0);
  testsupport::TempDir dir;
  testsupport::writeFileText(dir / "bugreport.txt", "report");
  testsupport::writeFileText(dir / "shot.png", "png");
  const std::string missing = (dir / "missing.zip").string();
  // Texts a shell would act on reach the program as they are.
  const std::string subject = "bug $(touch pwned) report";
  const std::string body = "line 1\r\n'quoted' `cmd`";
  EXPECT_EQ(SendMailByMapi(" a@x.de ; Joe <b@y.de>", subject, body,
                           {(dir / "bugreport.txt").string(), missing, (dir / "shot.png").string()}),
            1);
  const std::vector<std::string> expected = {"--subject", subject,
                                             "--body", body,
                                             "--attach", (dir / "bugreport.txt").string(),
                                             "--attach", (dir / "shot.png").string(),
                                             "a@x.de", "b@y.de"};
  EXPECT_EQ(tools.args("xdg-email"), expected);
  EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST(zebMail, XdgEmailFailureIsNotSent) {
  crashtest::FakeTools tools;
  tools.add("xdg-email", 3);
  EXPECT_EQ(SendMailByMapi("a@x.de", "s", "b", {}), 0);
  EXPECT_TRUE(tools.ran("xdg-email"));
}

TEST(zebMail, MailtoGoesToXdgOpen) {
  crashtest::FakeTools tools;
  tools.add("xdg-open", 0);
  ASSERT_TRUE(SendMailByMailto("a@x.de", "bug report", "x\r\ny&z"));
  const std::vector<std::string> args = tools.args("xdg-open", true);
  ASSERT_EQ(args.size(), 1u);
  EXPECT_EQ(args[0], "mailto:a@x.de?subject=bug%20report&body=x%0D%0Ay%26z");
}

TEST(zebMail, StartProgramReportsAMissingProgram) {
  int status = 0;
  EXPECT_FALSE(StartProgram({"hivescope-no-such-program-here"}, &status));
  EXPECT_FALSE(StartProgram({}));
}
