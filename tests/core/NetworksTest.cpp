#include "core/Networks.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/ThrownText.h"

using namespace std::string_literals;

namespace {

std::vector<int> ints(TDynamicArray& a) {
  std::vector<int> out;
  for (int i = 0; i < a.Count(); ++i) {
    int v = 0;
    a.GetItem(i, &v);
    out.push_back(v);
  }
  return out;
}

void fill(TDynamicArray& a, std::vector<int> values) {
  for (int v : values) a.AddItem(&v);
}

TEST(DynamicArray, IndexBoundsNameTheClassAndTheIndex) {
  struct Case {
    const char* what;
    void (*op)(TDynamicArray&);
    std::string thrown;
    std::vector<int> after;
  };
  const Case cases[] = {
      {"insert at the count appends", [](TDynamicArray& a) { a.Insert(3); }, "(nothing thrown)", {1, 2, 3, 0}},
      {"insert at 0 shifts", [](TDynamicArray& a) { a.Insert(0); }, "(nothing thrown)", {0, 1, 2, 3}},
      {"insert past the count", [](TDynamicArray& a) { a.Insert(4); },
       "Array TDynamicArray item index is out of bounds (4)", {1, 2, 3}},
      {"insert before the start", [](TDynamicArray& a) { a.Insert(-1); },
       "Array TDynamicArray item index is out of bounds (-1)", {1, 2, 3}},
      {"delete at the count", [](TDynamicArray& a) { a.Delete(3); },
       "Array TDynamicArray item index is out of bounds (3)", {1, 2, 3}},
      {"delete the middle", [](TDynamicArray& a) { a.Delete(1); }, "(nothing thrown)", {1, 3}},
      {"get past the end", [](TDynamicArray& a) { int v; a.GetItem(3, &v); },
       "Array TDynamicArray item index is out of bounds (3)", {1, 2, 3}},
      {"exchange with a bad index", [](TDynamicArray& a) { a.Exchange(0, 5); },
       "Array TDynamicArray item index is out of bounds (5)", {1, 2, 3}},
      {"exchange", [](TDynamicArray& a) { a.Exchange(0, 2); }, "(nothing thrown)", {3, 2, 1}},
      {"grow adds zero items", [](TDynamicArray& a) { a.Grow(2); }, "(nothing thrown)", {1, 2, 3, 0, 0}},
      {"shrink keeps the first items", [](TDynamicArray& a) { a.Shrink(2); }, "(nothing thrown)", {1}},
      {"a negative count empties", [](TDynamicArray& a) { a.SetCount(-4); }, "(nothing thrown)", {}},
      {"extract copies out and deletes", [](TDynamicArray& a) {
         int v = 0;
         a.ExtractItem(1, &v);
         if (v != 2) throw std::runtime_error("extracted " + std::to_string(v));
       }, "(nothing thrown)", {1, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TDynamicArray a(0, sizeof(int));
    fill(a, {1, 2, 3});
    EXPECT_EQ(thrownText([&] { c.op(a); }), c.thrown);
    EXPECT_EQ(ints(a), c.after);
  }
}

TEST(DynamicArray, ItemPointerIsNullOutsideAndForEachStopsAtFirstAnswer) {
  TDynamicArray a(2, sizeof(int));
  EXPECT_EQ(ints(a), (std::vector<int>{0, 0}));  // initial items are zero
  EXPECT_EQ(a.ItemPointer(2), nullptr);
  EXPECT_EQ(a.ItemPointer(-1), nullptr);
  a.SetCount(0);
  EXPECT_EQ(a.ItemPointer(0), nullptr);
  fill(a, {5, 6, 7});
  std::vector<int> seen;
  const int r = a.ForEach(
      [&](void*, int index, void* item) {
        seen.push_back(*static_cast<int*>(item));
        return index == 1 ? 42 : 0;
      },
      nullptr);
  EXPECT_EQ(r, 42);
  EXPECT_EQ(seen, (std::vector<int>{5, 6}));
}

TEST(StringObjectList, LinesKeepTextDataAndObjectThroughInsertDeleteExchange) {
  TStringObjectList list;
  int marker = 0;
  list.Add("b");
  list.Insert(0, "a");
  list.Add("c");
  list.SetData(1, &marker);
  list.Exchange(1, 2);
  EXPECT_EQ(list.Strings(), (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_EQ(list.GetData(2), &marker);
  list.Delete(0);
  EXPECT_EQ(list.Strings(), (std::vector<std::string>{"c", "b"}));
  EXPECT_EQ(thrownText([&] { list.Insert(3, "x"); }), "Array TStringObjectArray item index is out of bounds (3)");
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

class FakeBrowser : public platform::NetworkBrowser {
public:
  std::vector<platform::NetworkWorkgroupEntry> groups;
  bool fail = false;
  std::vector<platform::NetworkWorkgroupEntry> browse() override {
    if (fail) throw platform::NetworkBrowseError("no daemon");
    return groups;
  }
};

TEST(NetworkNeighborhood, NamesComeOutTrimmedCutAndInWorkgroupOrder) {
  FakeBrowser fake;
  fake.groups = {{"  WORKGROUP ", {" PC1 ", "pc2\0junk"s, "  "}}, {"home", {"desk"}}, {"empty", {}}};
  TNetworkNeighborhood hood(fake);
  EXPECT_EQ(hood.Strings(), (std::vector<std::string>{"WORKGROUP", "home", "empty"}));
  TStringObjectList names;
  names.Add("stale");
  hood.GetComputerNames(names);
  EXPECT_EQ(names.Strings(), (std::vector<std::string>{"PC1", "pc2", "", "desk"}));
}

TEST(NetworkNeighborhood, DeleteAndInsertChangeNothing) {
  FakeBrowser fake;
  fake.groups = {{"A", {"x"}}, {"B", {"y"}}};
  TNetworkNeighborhood hood(fake);
  hood.Delete(0);
  hood.Insert(0, "new");
  hood.Insert(99, "new");
  EXPECT_EQ(hood.Strings(), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(hood.Workgroup(1).Strings(), (std::vector<std::string>{"y"}));
}

TEST(NetworkNeighborhood, AnyFailureIsCannotFindNetwork) {
  FakeBrowser fake;
  fake.fail = true;
  EXPECT_EQ(thrownText([&] { TNetworkNeighborhood hood(fake); }), "Cannot find network neiborhood");
  EXPECT_THROW(TNetworkNeighborhood{fake}, ECannotFindNetwork);
}

TEST(DimText, TrimAndCut) {
  struct Case {
    std::string in, both, left, right, cut;
  };
  const Case cases[] = {
      {"  a b  ", "a b", "a b  ", "  a b", "  a b  "},
      {"    ", "", "", "", "    "},
      {"x\0y "s, "x\0y"s, "x\0y "s, "x\0y"s, "x"},
      {"", "", "", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TrimChar(c.in, ' '), c.both);
    EXPECT_EQ(TrimLeftChar(c.in, ' '), c.left);
    EXPECT_EQ(TrimRightChar(c.in, ' '), c.right);
    EXPECT_EQ(FixStringLength(c.in), c.cut);
  }
}

std::string hostName() {
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  return host;
}

bool mdnsDaemonRuns() { return std::filesystem::exists("/run/avahi-daemon/socket"); }

TEST(MdnsNetworkBrowser, WithoutDaemonTheNeighbourhoodCannotBeFound) {
  if (mdnsDaemonRuns()) GTEST_SKIP() << "an mDNS daemon runs on this machine";
  try {
    TNetworkNeighborhood hood;
    FAIL() << "the neighbourhood was found without a daemon";
  } catch (const ECannotFindNetwork& e) {
    EXPECT_STREQ(e.what(), "Cannot find network neiborhood");
  }
}

// With a daemon and a published file-sharing service, this host is listed.
TEST(MdnsNetworkBrowser, ListsThisHostWhenItAnnouncesFileSharing) {
  if (!mdnsDaemonRuns()) GTEST_SKIP() << "no mDNS daemon runs on this machine";
  if (std::system("command -v avahi-publish >/dev/null 2>&1") != 0) GTEST_SKIP() << "avahi-publish is not installed";
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::execlp("avahi-publish", "avahi-publish", "-s", "hivescope-test", "_smb._tcp", "445", nullptr);
    ::_exit(127);
  }
  const std::string host = hostName().substr(0, hostName().find('.'));
  bool found = false;
  // Publishing takes a moment: browse again until it shows, for some seconds.
  for (int attempt = 0; attempt < 10 && !found; ++attempt) {
    TNetworkNeighborhood hood;
    TStringObjectList names;
    hood.GetComputerNames(names);
    for (const auto& n : names.Strings()) found = found || n == host;
  }
  ::kill(pid, SIGTERM);
  EXPECT_TRUE(found);
}

}  // namespace
