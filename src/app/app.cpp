#include "kqbridge/app.h"

#include <string>

#include "kqbridge/data.h"

namespace bg {

struct App::State {
  std::string version;
  std::string release_time;
  std::string organization;
  std::string describe;
  Data store;
};

App::App() : m_state(new State()) {}

App::~App() {
  delete m_state;
  m_state = nullptr;
}

const char* App::getVersion() {
  return m_state->version.c_str();
}

void App::setVersion(const char* s) {
  m_state->version = s != nullptr ? s : "";
}

const char* App::getReleaseTime() {
  return m_state->release_time.c_str();
}

void App::setReleaseTime(const char* s) {
  m_state->release_time = s != nullptr ? s : "";
}

void App::setOrganization(const char* s) {
  m_state->organization = s != nullptr ? s : "";
}

const char* App::getOrganization() {
  return m_state->organization.c_str();
}

const char* App::getDescribe() {
  return m_state->describe.c_str();
}

void App::setDescribe(const char* s) {
  m_state->describe = s != nullptr ? s : "";
}

const char* App::getAppDir() {
  return g_exeDir.c_str();
}

const char* App::getAppFilePath() {
  return g_exePath.c_str();
}

const char* App::getAppName() {
  return g_exeName.c_str();
}

bool App::setStoreValue(const char* key, const Value& value, bool encoded) {
  if (encoded) return m_state->store.setData(key, m_state->store.encryptValue(value), true);
  return m_state->store.setData(key, value, true);
}

Value App::getStoreValue(const char* key, const Value& defaultValue, bool encoded) {
  if (!m_state->store.hasData(key)) return defaultValue;
  Value stored = m_state->store.getData(key, defaultValue);
  return encoded ? m_state->store.decryptValue(stored) : stored;
}

void App::show(FILE* stream) {
  if (stream == nullptr) return;
  fputs("------------ [App] ------------\n", stream);
  fprintf(stream, ">> app_name      = %s\n", getAppName());
  fprintf(stream, ">> app_dir       = %s\n", getAppDir());
  fprintf(stream, ">> app_filepath  = %s\n", getAppFilePath());
  fprintf(stream, ">> version       = %s\n", m_state->version.c_str());
  fprintf(stream, ">> organization  = %s\n", m_state->organization.c_str());
  fprintf(stream, ">> release_time  = %s\n", m_state->release_time.c_str());
  fprintf(stream, ">> describe      = %s\n", m_state->describe.c_str());
  m_state->store.debug(stream);
  fputs("-------------------------------\n\n", stream);
  fflush(stream);
}

const char* App::getAuthor() {
  return "kqBridge developers";
}

}  // namespace bg
