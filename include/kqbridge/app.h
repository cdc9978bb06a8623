/// \file
/// bg::App: what the running application tells about itself, and a small store.
#ifndef KQBRIDGE_APP_H_
#define KQBRIDGE_APP_H_

#include <cstdio>

#include "kqbridge/interface.h"
#include "kqbridge/value.h"

namespace bg {

/// Name, directory and path come from g_exeName, g_exeDir and g_exePath, so
/// every App reports the same. Setters copy their (non-null) text; getters
/// point into the object until the next change of that field. The store is
/// safe from any thread; the texts are not: set them from one thread (the
/// host's, at start) before other threads read them.
class KQ_EXPORT Abstract_App : public Abstract_Base {
 public:
  ///@{
  /// The application's version, release time, organisation and description,
  /// as the host set them; "" until then.
  virtual const char* getVersion() = 0;
  virtual void setVersion(const char* s) = 0;
  virtual const char* getReleaseTime() = 0;
  virtual void setReleaseTime(const char* s) = 0;
  virtual void setOrganization(const char* s) = 0;
  virtual const char* getOrganization() = 0;
  virtual const char* getDescribe() = 0;
  virtual void setDescribe(const char* s) = 0;
  ///@}
  ///@{
  /// g_exeDir, g_exePath and g_exeName.
  virtual const char* getAppDir() = 0;
  virtual const char* getAppFilePath() = 0;
  virtual const char* getAppName() = 0;
  ///@}
  /// Stores a copy (or, when `encoded`, the encrypted form), replacing any entry.
  virtual bool setStoreValue(const char* key, const Value& value, bool encoded) = 0;
  /// Values stored encoded must be read encoded.
  virtual Value getStoreValue(const char* key, const Value& defaultValue, bool encoded) = 0;
  /// Prints the texts and the store to `stream` (nothing for null).
  virtual void show(FILE* stream) = 0;
  /// The library's authors, as a fixed text.
  virtual const char* getAuthor() = 0;
};

/// The application record behind the shared m_app of every component.
class KQ_EXPORT App : public Abstract_App {
 public:
  /// Empty texts and an empty store.
  App();
  ~App() override;
  App(const App&) = delete;
  App& operator=(const App&) = delete;
  const char* getVersion() override;
  void setVersion(const char* s) override;
  const char* getReleaseTime() override;
  void setReleaseTime(const char* s) override;
  void setOrganization(const char* s) override;
  const char* getOrganization() override;
  const char* getDescribe() override;
  void setDescribe(const char* s) override;
  const char* getAppDir() override;
  const char* getAppFilePath() override;
  const char* getAppName() override;
  bool setStoreValue(const char* key, const Value& value, bool encoded) override;
  Value getStoreValue(const char* key, const Value& defaultValue, bool encoded) override;
  void show(FILE* stream) override;
  const char* getAuthor() override;

 private:
  // The four texts and the store, defined in src/.
  struct State;
  State* m_state;
};

}  // namespace bg

#endif  // KQBRIDGE_APP_H_
