// The field and attachment lists: trimming, renaming by case, the insert
// position, write-back into a parent's setting, and copies.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crashreport/zebExceptFields.h"
#include "crashreport/zebExceptSettings.h"

using namespace zeb;

namespace {

std::string itemsOf(const TIZeqFields& f) {
  std::string text;
  for (int i = 0; i < f.Count(); ++i) text += (i ? "," : "") + f.NameAt(i) + "=" + f.ValueAt(i);
  return text;
}

// A settings object of a module of its own, to be the lists' parent.
struct ParentModule {
  ParentModule() { RegisterSettingsModule(301, WriteSettingsResource(ParseSettingsTable("Enabled bool true")), "m.so"); }
  ~ParentModule() { RegisterSettingsModule(301, {}, {}); }
};

}  // namespace

TEST(zebExceptFields, AssignTrimsRenamesAndRemoves) {
  ParentModule module;
  TIZeqSettings parent(301, true);
  auto fields = NewFieldList();
  fields->SetSettings(&parent);
  struct Step {
    const char* name;
    const char* value;
    const char* items;
    const char* written;  // AddFields afterwards
  };
  const Step steps[] = {
      {"a", "  x  ", "a=x", "a=x"},
      {"b", "2", "a=x,b=2", "a=x|b=2"},
      {"A", "x", "A=x,b=2", "A=x|b=2"},          // new spelling taken, written back
      {"B", "", "A=x", "A=x"},                   // empty value removes, any case
      {"A", " x\t", "A=x", "A=x"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.name) + "=" + s.value);
    parent.SetAddFields("unchanged");
    fields->Assign(s.name, s.value);
    EXPECT_EQ(itemsOf(*fields), s.items);
    // The last step changes nothing, so nothing is written back.
    EXPECT_EQ(parent.AddFields(), &s == &steps[4] ? "unchanged" : s.written);
  }
  fields->DetachSettings();
}

TEST(zebExceptFields, InsertPositionMovesWithTheItems) {
  auto fields = NewFieldList();
  for (const char* n : {"a", "b", "c", "d", "e"}) fields->Append(n, "1");
  fields->SetInsertPosition(3);
  fields->Assign("new", "v");
  EXPECT_EQ(fields->IndexOfName("NEW"), 3);
  EXPECT_EQ(fields->InsertPosition(), 4);
  fields->RemoveAt(0);
  EXPECT_EQ(fields->InsertPosition(), 3);
  fields->InsertAt(0, "b", "1");  // already first with that value
  EXPECT_EQ(itemsOf(*fields), "b=1,c=1,new=v,d=1,e=1");
  fields->InsertAt(0, "b", "2");
  EXPECT_EQ(itemsOf(*fields), "b=2,c=1,new=v,d=1,e=1");
  fields->InsertAt(99, "c", "1");  // moved to the end, never held twice
  EXPECT_EQ(itemsOf(*fields), "b=2,new=v,d=1,e=1,c=1");
  fields->InsertAt(1, "x", "   ");  // an empty value inserts and removes nothing
  EXPECT_EQ(fields->Count(), 5);
  EXPECT_EQ(fields->NameAt(7), "");
}

TEST(zebExceptFields, ListNotAcceptingDataStillRemovesAndRenames) {
  auto fields = NewFieldList(true);
  fields->Append("a", "1");
  auto closed = std::make_shared<TIZeqFields>();
  closed->Assign("a", "1");
  closed->InsertAt(0, "a", "1");
  EXPECT_EQ(closed->Count(), 0);
  auto copy = fields->Copy();
  copy->RenameAt(0, "z");
  EXPECT_EQ(copy->NameAt(0), "z");
  EXPECT_EQ(fields->NameAt(0), "a");
}

TEST(zebExceptFields, AttachmentsFillNamesAndWriteBack) {
  ParentModule module;
  TIZeqSettings parent(301, true);
  auto list = NewAttachmentList();
  list->SetSettings(&parent);
  list->Append("/t/report.txt");
  list->Append("");
  list->Append("C:\\logs\\app.log", "", "logs.zip", "");
  list->Append("/t/noext", "given", "", "field");
  AttachmentItem item;
  ASSERT_TRUE(list->ItemAt(0, item));
  EXPECT_EQ(item, (AttachmentItem{"/t/report.txt", "report.txt", "", "report"}));
  EXPECT_FALSE(list->ItemAt(3, item));
  EXPECT_EQ(parent.AddAttachs(),
            "/t/report.txt>report.txt>>report|C:\\logs\\app.log>app.log>logs.zip>app|/t/noext>given>>field");
  auto copy = list->Copy();
  ASSERT_EQ(copy->Count(), 3);
  ASSERT_TRUE(copy->ItemAt(1, item));
  EXPECT_EQ(item, (AttachmentItem{"C:\\logs\\app.log", "app.log", "logs.zip", "app"}));
  parent.SetAddAttachs("kept");
  EXPECT_FALSE(list->Remove("/T/missing"));
  EXPECT_EQ(parent.AddAttachs(), "kept");
  EXPECT_TRUE(list->Remove("/T/REPORT.TXT"));
  list->RemoveAll();
  EXPECT_EQ(parent.AddAttachs(), "");
  EXPECT_EQ(copy->Count(), 3);
  list->DetachSettings();
}
