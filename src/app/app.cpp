#include "kqbridge/app.h"

#include "kqbridge/data.h"

namespace bg {

App::App() : m_store(new Data()) {}

App::~App() {
  delete m_store;
  m_store = nullptr;
}

const char* App::getVersion() {
  return version.c_str();
}

void App::setVersion(const char* s) {
  version = s != nullptr ? s : "";
}

const char* App::getReleaseTime() {
  return release_time.c_str();
}

void App::setReleaseTime(const char* s) {
  release_time = s != nullptr ? s : "";
}

void App::setOrganization(const char* s) {
  organization = s != nullptr ? s : "";
}

const char* App::getOrganization() {
  return organization.c_str();
}

const char* App::getDescribe() {
  return describe.c_str();
}

void App::setDescribe(const char* s) {
  describe = s != nullptr ? s : "";
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
  if (encoded) return m_store->setData(key, m_store->encryptValue(value), true);
  return m_store->setData(key, value, true);
}

Value App::getStoreValue(const char* key, const Value& defaultValue, bool encoded) {
  if (!m_store->hasData(key)) return defaultValue;
  Value stored = m_store->getData(key, defaultValue);
  return encoded ? m_store->decryptValue(stored) : stored;
}

void App::show(FILE* stream) {
  if (stream == nullptr) return;
  fputs("------------ [App] ------------\n", stream);
  fprintf(stream, ">> app_name      = %s\n", getAppName());
  fprintf(stream, ">> app_dir       = %s\n", getAppDir());
  fprintf(stream, ">> app_filepath  = %s\n", getAppFilePath());
  fprintf(stream, ">> version       = %s\n", version.c_str());
  fprintf(stream, ">> organization  = %s\n", organization.c_str());
  fprintf(stream, ">> release_time  = %s\n", release_time.c_str());
  fprintf(stream, ">> describe      = %s\n", describe.c_str());
  m_store->debug(stream);
  fputs("-------------------------------\n\n", stream);
  fflush(stream);
}

const char* App::getAuthor() {
  return "kqBridge developers";
}

}  // namespace bg
