// bg::Data: the store, its listeners and filters, and the order of notification.
#include <gtest/gtest.h>
#include <kqbridge/data.h>

#include <string>
#include <vector>

namespace {

using bg::Value;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// Every callback appends "<name>:<key>=<text form>" to the log its record
// points at; user[0] holds the log, user[1] the name.
void record(const char* key, const Value* value, ListenerRecord* rec) {
  auto* log = reinterpret_cast<std::vector<std::string>*>(rec->user[0]);
  log->push_back(std::string(reinterpret_cast<const char*>(rec->user[1])) + ":" + key + "=" + value->write());
}

ListenerRecord recordFor(std::vector<std::string>* log, const char* name, int id = 0) {
  ListenerRecord rec{};
  rec.callback = record;
  rec.user[0] = reinterpret_cast<intptr_t>(log);
  rec.user[1] = reinterpret_cast<intptr_t>(name);
  rec.id = id;
  return rec;
}

TEST(DataStore, SetGetReplaceAndRemove) {
  bg::Data data;
  EXPECT_FALSE(data.hasData("k"));
  EXPECT_EQ(data.getData("k", Value(9)).toInt(), 9);
  EXPECT_TRUE(data.setData("k", Value(1), false));
  EXPECT_FALSE(data.setData("k", Value(2), false));
  EXPECT_EQ(data.getData("k", Value()).toInt(), 1);
  EXPECT_TRUE(data.setData("k", Value("two"), true));
  Value got = data.getData("k", Value());
  EXPECT_EQ(got.type(), Value::VT_STR);
  EXPECT_EQ(got.toStdString(), "two");
  EXPECT_TRUE(data.removeData("k"));
  EXPECT_FALSE(data.removeData("k"));
  EXPECT_FALSE(data.hasData("k"));

  bg::Abstract_Datas* made = data.create();
  made->setData("only there", Value(1), false);
  EXPECT_FALSE(data.hasData("only there"));
  data.destroy(&made);
  EXPECT_EQ(made, nullptr);
}

TEST(DataStore, StoresADeepCopy) {
  bg::Data data;
  {
    const char* args[] = {"a", "b"};
    Value v(2, args);
    data.setData("argv", v, false);
  }
  EXPECT_EQ(data.getData("argv", Value()).write(), "[argv]a\nb");
}

// A store that claims every key, as a derived class may: the operations built
// on hasData ask it through the interface.
class ClaimsEverything : public bg::Data {
 public:
  bool hasData(const char*) override { return true; }
};

TEST(DataStore, PresenceIsAskedThroughTheInterface) {
  ClaimsEverything data;
  EXPECT_FALSE(data.setData("k", Value(1), false));
  EXPECT_EQ(data.getData("k", Value(5)).toInt(), 5);
  EXPECT_TRUE(data.setData("k", Value(2), true));
  EXPECT_EQ(data.getData("k", Value(5)).toInt(), 2);
  std::vector<std::string> log;
  ListenerRecord rec = recordFor(&log, "L");
  data.registListener("k", &rec);
  EXPECT_FALSE(data.setDataNotify("k", Value(3), false));
  EXPECT_TRUE(log.empty());
}

TEST(DataStore, AReusedKeyBufferIsReadAfresh) {
  bg::Data data;
  char key[] = "a";
  EXPECT_TRUE(data.setData(key, Value(1), false));
  EXPECT_TRUE(data.hasData(key));
  key[0] = 'b';
  EXPECT_FALSE(data.hasData(key));
  EXPECT_TRUE(data.setData(key, Value(2), false));
  key[0] = 'a';
  EXPECT_EQ(data.getData(key, Value()).toInt(), 1);
  EXPECT_TRUE(data.removeData(key));
  EXPECT_TRUE(data.setData(key, Value(3), false));
  EXPECT_EQ(data.getData("a", Value()).toInt(), 3);
  EXPECT_EQ(data.getData("b", Value()).toInt(), 2);
}

TEST(DataListeners, IdsCountFrom101AcrossListenersAndFilters) {
  bg::Data data;
  std::vector<std::string> log;
  ListenerRecord rec = recordFor(&log, "x");
  EXPECT_EQ(data.registListener("k", &rec), 101);
  EXPECT_EQ(data.registListener(nullptr, &rec), 102);
  EXPECT_EQ(data.registListener("", &rec), 103);
  rec.id = 99;
  EXPECT_EQ(data.registListener("k", &rec), 104) << "an id below 100 asks for a new registration";
  EXPECT_EQ(rec.id, 99) << "the caller's record is not changed";
}

TEST(DataListeners, RepeatedRegistrationWarnsAndKeepsOne) {
  bg::Data data;
  std::vector<std::string> log;
  ListenerRecord rec = recordFor(&log, "L");
  rec.id = data.registListener("key", &rec);
  ListenerRecord filter = recordFor(&log, "F");
  filter.id = data.registListener(nullptr, &filter);

  CaptureStderr();
  EXPECT_EQ(data.registListener("key", &rec), 101);
  EXPECT_EQ(data.registListener("", &filter), 102);
  EXPECT_EQ(GetCapturedStderr(),
            "[Listener] (Warnning): data-listener 'key=key, id=101' already exist !\n\n"
            "[Listener] (Warnning): data-filter 'id=102' already exist !\n\n");

  data.setDataNotify("key", Value(1), true);
  EXPECT_EQ(log, (std::vector<std::string>{"L:key=[i]1", "F:key=[i]1"}));

  CaptureStderr();
  EXPECT_TRUE(data.unregistListener("key", 101));
  EXPECT_TRUE(data.unregistListener(nullptr, 102));
  EXPECT_FALSE(data.unregistListener("key", 101));
  EXPECT_FALSE(data.unregistListener("other", 103));
  EXPECT_FALSE(data.unregistListener("", 101));
  EXPECT_EQ(GetCapturedStderr(),
            "[Listener] remove data-listener 'key=key, id=101' OK !!!\n\n"
            "[Listener] remove data-filter 'id=102' OK !!!\n\n");

  CaptureStderr();
  EXPECT_EQ(data.registListener("key", &rec), 103) << "a stale id registers anew";
  EXPECT_EQ(data.registListener("other key", &rec), 104)
      << "the same id under another key is another listener";
  EXPECT_EQ(GetCapturedStderr(), "");
}

TEST(DataListeners, HasListenerTellsKeysFromFilters) {
  bg::Data data;
  std::vector<std::string> log;
  ListenerRecord rec = recordFor(&log, "x");
  EXPECT_FALSE(data.hasListener("k"));
  EXPECT_FALSE(data.hasListener(""));
  int id = data.registListener("k", &rec);
  EXPECT_TRUE(data.hasListener("k"));
  EXPECT_FALSE(data.hasListener(nullptr));
  data.registListener(nullptr, &rec);
  EXPECT_TRUE(data.hasListener(""));
  CaptureStderr();
  data.unregistListener("k", id);
  GetCapturedStderr();
  EXPECT_FALSE(data.hasListener("k"));
}

TEST(DataNotify, KeyListenersInOrderThenEveryFilter) {
  bg::Data data;
  std::vector<std::string> log;
  ListenerRecord f1 = recordFor(&log, "f1"), a1 = recordFor(&log, "a1"), b1 = recordFor(&log, "b1"),
                 a2 = recordFor(&log, "a2"), f2 = recordFor(&log, "f2"), a3 = recordFor(&log, "a3");
  data.registListener(nullptr, &f1);
  data.registListener("a", &a1);
  data.registListener("b", &b1);
  data.registListener("a", &a2);
  data.registListener("", &f2);
  data.registListener("a", &a3);

  EXPECT_TRUE(data.setDataNotify("a", Value(1), false));
  EXPECT_TRUE(data.setDataNotify("c", Value(true), false));
  EXPECT_FALSE(data.setDataNotify("a", Value(2), false)) << "an existing key without replace notifies nobody";
  EXPECT_TRUE(data.setData("b", Value(3), true)) << "setData notifies nobody";
  EXPECT_TRUE(data.setDataNotify("a", Value(4), true));
  EXPECT_EQ(log, (std::vector<std::string>{"a1:a=[i]1", "a2:a=[i]1", "a3:a=[i]1", "f1:a=[i]1", "f2:a=[i]1",
                                           "f1:c=[b]true", "f2:c=[b]true", "a1:a=[i]4", "a2:a=[i]4",
                                           "a3:a=[i]4", "f1:a=[i]4", "f2:a=[i]4"}));
  EXPECT_EQ(data.getData("a", Value()).toInt(), 4);
}

struct Seen {
  const Value* value = nullptr;
  ListenerRecord copy{};
  ListenerRecord* passed = nullptr;
};

void remember(const char*, const Value* value, ListenerRecord* rec) {
  auto* seen = reinterpret_cast<Seen*>(rec->user[0]);
  seen->value = value;
  seen->copy = *rec;
  seen->passed = rec;
  rec->id = -1;
}

TEST(DataNotify, CallbacksGetTheCallersValueAndACopyOfTheRecord) {
  bg::Data data;
  Seen seen;
  ListenerRecord rec{};
  rec.callback = remember;
  rec.user[0] = reinterpret_cast<intptr_t>(&seen);
  rec.user[4] = 44;
  rec.spare = 55;
  int id = data.registListener("k", &rec);
  Value v(7);
  data.setDataNotify("k", v, false);
  EXPECT_EQ(seen.value, &v);
  EXPECT_NE(seen.passed, &rec);
  EXPECT_EQ(seen.copy.id, id);
  EXPECT_EQ(seen.copy.user[4], 44);
  EXPECT_EQ(seen.copy.spare, 55);
  data.setDataNotify("k", Value(8), true);
  EXPECT_EQ(seen.copy.id, id) << "a callback changing its record copy leaves the registration alone";
}

struct Joiner {
  bg::Data* data;
  std::vector<std::string>* log;
  ListenerRecord late;
  ListenerRecord lateFilter;
  bool done = false;
};

void registerMore(const char* key, const Value*, ListenerRecord* rec) {
  auto* j = reinterpret_cast<Joiner*>(rec->user[0]);
  j->log->push_back("joiner");
  if (j->done) return;
  j->done = true;
  j->data->registListener(key, &j->late);
  j->data->registListener(nullptr, &j->lateFilter);
  j->data->registListener("elsewhere", &j->late);
}

TEST(DataNotify, RegistrationsMadeDuringANotificationJoinIt) {
  bg::Data data;
  std::vector<std::string> log;
  Joiner joiner{&data, &log, recordFor(&log, "late"), recordFor(&log, "lateFilter")};
  ListenerRecord first{};
  first.callback = registerMore;
  first.user[0] = reinterpret_cast<intptr_t>(&joiner);
  ListenerRecord after = recordFor(&log, "after"), filter = recordFor(&log, "filter");
  data.registListener("k", &first);
  data.registListener("k", &after);
  data.registListener(nullptr, &filter);
  data.setDataNotify("k", Value(1), false);
  EXPECT_EQ(log, (std::vector<std::string>{"joiner", "after:k=[i]1", "late:k=[i]1", "filter:k=[i]1",
                                           "lateFilter:k=[i]1"}));
}

TEST(DataDebug, DumpsEveryValueInKeyOrder) {
  bg::Data data;
  data.setData("n", Value(5), false);
  data.setData("b", Value("text"), false);
  data.setData("e", Value::ErrorValue("bad"), false);
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  data.debug(f);
  rewind(f);
  char buf[256] = {};
  size_t n = fread(buf, 1, sizeof(buf) - 1, f);
  fclose(f);
  EXPECT_EQ(std::string(buf, n),
            "\n[Data] debug >>\nb  -->  [str]text\ne  -->  <variant>bad\nn  -->  [i]5\n\n");
}

}  // namespace
