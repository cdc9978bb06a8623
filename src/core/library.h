// kq::Library: one attempt to load a plug-in module file.
#ifndef KQBRIDGE_CORE_LIBRARY_H_
#define KQBRIDGE_CORE_LIBRARY_H_

#include <string>

namespace kq {

// Loads a module by path and finds its symbols. Destroying the object never
// unloads the module: a loaded module stays in the process until it ends.
class Library {
 public:
  // Keeps `path` in normalised form; nothing is loaded yet.
  explicit Library(const char* path);
  virtual ~Library();

  // The loader's own explanation of a failure goes to the central log at
  // DEBUG level.
  bool load();
  // Null when the symbol is absent (or nothing was loaded).
  void* resolve(const char* symbol);
  // "libray err: <n>" with the calling thread's last error number.
  std::string errorText();

 private:
  std::string m_path;
  void* m_handle;
};

}  // namespace kq

#endif  // KQBRIDGE_CORE_LIBRARY_H_
