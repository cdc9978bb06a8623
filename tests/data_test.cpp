// bg::Data: the store, its listeners and filters, the order of notification
// and the encoded store form (also as App's encoded store).
#include <gtest/gtest.h>
#include <kqbridge/app.h>
#include <kqbridge/data.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using bg::Value;
using Texts = std::vector<std::string>;

// Every callback appends "<name>:<key>=<text form>" to the log its record
// points at; user[0] holds the log, user[1] the name.
void record(const char* key, const Value* value, ListenerRecord* rec) {
  auto* log = reinterpret_cast<Texts*>(rec->user[0]);
  log->push_back(std::string(reinterpret_cast<const char*>(rec->user[1])) + ":" + key + "=" + value->write());
}

ListenerRecord recordFor(Texts* log, const char* name) {
  ListenerRecord rec{};
  rec.callback = record;
  rec.user[0] = reinterpret_cast<intptr_t>(log);
  rec.user[1] = reinterpret_cast<intptr_t>(name);
  return rec;
}

TEST(DataStore, SetGetReplaceRemoveAndAReusedKeyBuffer) {
  bg::Data data;
  EXPECT_EQ(data.getData("k", Value(9)).toInt(), 9);
  EXPECT_TRUE(data.setData("k", Value(1), false));
  EXPECT_FALSE(data.setData("k", Value(2), false));
  EXPECT_TRUE(data.setData("k", Value("two"), true));
  EXPECT_EQ(data.getData("k", Value()).toStdString(), "two");
  {
    const char* args[] = {"a", "b"};
    data.setData("argv", Value(2, args), false);
  }
  EXPECT_EQ(data.getData("argv", Value()).write(), "[argv]a\nb") << "the store keeps a deep copy";
  char key[] = "a";
  EXPECT_TRUE(data.setData(key, Value(1), false));
  key[0] = 'b';
  EXPECT_FALSE(data.hasData(key)) << "the key text is copied, not its pointer kept";
  bg::Abstract_Datas* made = data.create();
  EXPECT_FALSE(made->hasData("k")) << "a store of its own";
  data.destroy(&made);
  EXPECT_EQ(made, nullptr);
}

// Registering a record again keeps its one registration; a stale id
// registers anew.
TEST(DataListeners, RegistrationIsIdempotentPerKey) {
  bg::Data data;
  Texts log;
  ListenerRecord rec = recordFor(&log, "L");
  ListenerRecord filter = recordFor(&log, "F");
  rec.id = data.registListener("key", &rec);
  EXPECT_FALSE(data.hasListener(nullptr));
  filter.id = data.registListener(nullptr, &filter);
  EXPECT_TRUE(data.hasListener("key") && data.hasListener(nullptr) && data.hasListener(""));
  EXPECT_FALSE(data.hasListener("other"));
  kqtest::ConsoleCapture console;
  EXPECT_EQ(data.registListener("key", &rec), rec.id);
  EXPECT_EQ(data.registListener("", &filter), filter.id);
  data.setDataNotify("key", Value(1), true);
  EXPECT_EQ(log, (Texts{"L:key=[i]1", "F:key=[i]1"})) << "each registered once";
  EXPECT_TRUE(data.unregistListener("key", rec.id));
  EXPECT_FALSE(data.unregistListener("key", rec.id));
  EXPECT_TRUE(data.unregistListener(nullptr, filter.id));
  EXPECT_FALSE(data.hasListener("key") || data.hasListener(nullptr));
  EXPECT_NE(data.registListener("key", &rec), rec.id) << "a stale id registers anew";
  const std::string l = std::to_string(rec.id);
  const std::string f = std::to_string(filter.id);
  EXPECT_EQ(console.errors(), "[Listener] (Warnning): data-listener 'key=key, id=" + l +
                                  "' already exist !\n\n" + "[Listener] (Warnning): data-filter 'id=" + f +
                                  "' already exist !\n\n" +
                                  "[Listener] remove data-listener 'key=key, id=" + l + "' OK !!!\n\n" +
                                  "[Listener] remove data-filter 'id=" + f + "' OK !!!\n\n");
}

// A class derived from Data is asked through the interface, as the store
// always asked: setData consults its hasData, setDataNotify its setData.
class EverythingStored : public bg::Data {
 public:
  bool hasData(const char*) override { return true; }
  bool setData(const char* key, const Value& v, bool replace) override {
    ++sets;
    return bg::Data::setData(key, v, replace);
  }
  int sets = 0;
};

TEST(DataStore, ADerivedStoreIsAskedThroughTheInterface) {
  EverythingStored data;
  EXPECT_FALSE(data.setData("k", Value(1), false)) << "its hasData says the key is there";
  EXPECT_TRUE(data.setData("k", Value(2), true));
  EXPECT_EQ(data.getData("k", Value(0)).toInt(), 2);
  EXPECT_FALSE(data.setDataNotify("k", Value(3), false));
  EXPECT_TRUE(data.setDataNotify("k", Value(4), true));
  EXPECT_EQ(data.sets, 4);
  EXPECT_EQ(data.getData("k", Value(0)).toInt(), 4);
  // Each key still reaches its own entry through a reused key buffer.
  char key[] = "b";
  EXPECT_TRUE(data.setData(key, Value(1), true));
  key[0] = 'c';
  EXPECT_TRUE(data.setData(key, Value(2), true));
  key[0] = 'd';
  EXPECT_EQ(data.getData(key, Value(9)).toInt(), 9);
  EXPECT_EQ(data.getData("b", Value()).toInt() * 10 + data.getData("c", Value()).toInt(), 12);
}

TEST(DataNotify, KeyListenersInOrderThenEveryFilter) {
  bg::Data data;
  Texts log;
  ListenerRecord f1 = recordFor(&log, "f1"), a1 = recordFor(&log, "a1"), b1 = recordFor(&log, "b1"),
                 a2 = recordFor(&log, "a2"), f2 = recordFor(&log, "f2");
  data.registListener(nullptr, &f1);
  data.registListener("a", &a1);
  data.registListener("b", &b1);
  data.registListener("a", &a2);
  data.registListener("", &f2);
  EXPECT_TRUE(data.setDataNotify("a", Value(1), false));
  EXPECT_TRUE(data.setDataNotify("c", Value(true), false));
  EXPECT_FALSE(data.setDataNotify("a", Value(2), false)) << "an existing key without replace notifies nobody";
  EXPECT_TRUE(data.setData("b", Value(3), true)) << "setData notifies nobody";
  EXPECT_EQ(log, (Texts{"a1:a=[i]1", "a2:a=[i]1", "f1:a=[i]1", "f2:a=[i]1", "f1:c=[b]true", "f2:c=[b]true"}));
  // A derived store that files values under names of its own still calls
  // the listeners of the key it was given.
  struct Prefixing : bg::Data {
    bool setData(const char* key, const Value& v, bool replace) override {
      return bg::Data::setData(("p." + std::string(key)).c_str(), v, replace);
    }
  } derived;
  log.clear();
  derived.registListener("k", &a1);
  EXPECT_TRUE(derived.setDataNotify("k", Value(5), false));
  EXPECT_EQ(log, Texts{"a1:k=[i]5"});
}

struct Joiner {
  bg::Data* data;
  Texts* log;
  ListenerRecord late;
  ListenerRecord lateFilter;
  int calls = 0;
};

// The first call registers listeners, the second a filter alone.
void registerMore(const char* key, const Value*, ListenerRecord* rec) {
  auto* j = reinterpret_cast<Joiner*>(rec->user[0]);
  j->log->push_back("joiner");
  if (++j->calls == 1) {
    j->data->registListener(key, &j->late);
    j->data->registListener("elsewhere", &j->late);
  } else if (j->calls == 2) {
    j->data->registListener(nullptr, &j->lateFilter);
  }
}

TEST(DataNotify, RegistrationsMadeDuringANotificationJoinIt) {
  bg::Data data;
  Texts log;
  Joiner joiner{&data, &log, recordFor(&log, "late"), recordFor(&log, "lateFilter")};
  ListenerRecord first{};
  first.callback = registerMore;
  first.user[0] = reinterpret_cast<intptr_t>(&joiner);
  ListenerRecord after = recordFor(&log, "after"), filter = recordFor(&log, "filter");
  data.registListener("k", &first);
  data.registListener("k", &after);
  data.registListener(nullptr, &filter);
  EXPECT_TRUE(data.setDataNotify("k", Value(1), false));
  EXPECT_TRUE(data.setDataNotify("k", Value(2), true));
  EXPECT_EQ(log, (Texts{"joiner", "after:k=[i]1", "late:k=[i]1", "filter:k=[i]1", "joiner", "after:k=[i]2",
                        "late:k=[i]2", "filter:k=[i]2", "lateFilter:k=[i]2"}));
}

// A callback removing a listener before its turn: the removed one is not
// called, whether the registrations fit in one copy or not.
void removeVictim(const char* key, const Value*, ListenerRecord* rec) {
  reinterpret_cast<bg::Data*>(rec->user[0])->unregistListener(key, *reinterpret_cast<int*>(rec->user[1]));
}

TEST(DataNotify, AListenerRemovedBeforeItsTurnIsNotCalled) {
  for (int listeners : {3, 12}) {
    bg::Data data;
    Texts log;
    int victimId = 0;
    ListenerRecord remover{};
    remover.callback = removeVictim;
    remover.user[0] = reinterpret_cast<intptr_t>(&data);
    remover.user[1] = reinterpret_cast<intptr_t>(&victimId);
    data.registListener("k", &remover);
    ListenerRecord victim = recordFor(&log, "victim"), filter = recordFor(&log, "filter");
    victimId = data.registListener("k", &victim);
    for (int i = 2; i < listeners; ++i) data.registListener(nullptr, &filter);
    data.setDataNotify("k", Value(1), false);
    EXPECT_EQ(log, Texts(listeners - 2, "filter:k=[i]1")) << listeners;
  }
}

// The store form written out independently: each byte b of the text form
// becomes (b ^ k) + k with k = seed % 250 + 2, then standard Base64.
std::string encodedForm(const std::string& text, unsigned char seed) {
  const unsigned char k = seed % 250 + 2;
  std::string bytes;
  for (unsigned char c : text) bytes += static_cast<char>(static_cast<unsigned char>((c ^ k) + k));
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
  }
  return out;
}

TEST(DataEncoding, EncodedFormIsTheScrambledTextFormInBase64AndRoundTrips) {
  bg::Data data;
  EXPECT_EQ(data.encryptValue(Value("hello world")).toStdString(), encodedForm("[str]hello world", 0x6B));
  const char* args[] = {"first arg", "second"};
  const Value values[] = {Value(7), Value(-1234.25), Value("text with ] and spaces and \xc3\xa9"),
                          Value(2, args), Value::ErrorValue("disk full")};
  for (const Value& v : values) {
    Value coded = data.encryptValue(v);
    EXPECT_EQ(coded.type(), v.isValid() ? Value::VT_STR : Value::VT_INVALID) << v.write();
    EXPECT_EQ(data.decryptValue(coded).write(), v.write());
  }
  EXPECT_FALSE(data.decryptValue(Value("not base64 !")).isValid());
  EXPECT_FALSE(data.decryptValue(Value("AAAA")).isValid()) << "valid Base64 of no text form";

  bg::App app;
  EXPECT_TRUE(app.setStoreValue("secret", Value(1234), true));
  EXPECT_EQ(app.getStoreValue("secret", Value(0), true).toInt(), 1234);
  EXPECT_EQ(app.getStoreValue("secret", Value(0), false).toStdString(), encodedForm("[i]1234", 0x6B));
  EXPECT_TRUE(app.setStoreValue("plain", Value(1), false) && app.setStoreValue("plain", Value(2), false));
  EXPECT_EQ(app.getStoreValue("plain", Value(0), false).write(), "[i]2") << "a plain store replaces as well";
}

}  // namespace
