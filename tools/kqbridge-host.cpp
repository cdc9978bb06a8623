// kqbridge-host: runs plug-in modules until it is told to stop.
//
//   kqbridge-host [--start] [--no-admin] MODULE.dll...
//
// A module named without a directory is taken from beside the executable
// when it is there; other module paths are relative to the current directory.
// The host stops on SIGINT or SIGTERM, or when a module ends the process
// through the central object's stop command. A second SIGINT or SIGTERM, a
// second or more after the first, ends a stop that hangs at once with status
// 128 + the signal number; one within a second is the same request.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "kqbridge/kqbridge.h"
#include "stop_request.h"

namespace {

const char kSynopsis[] =
    "usage: kqbridge-host [--start] [--no-admin] MODULE.dll...\n"
    "Loads each module (beside kqbridge-host, else a path from the current\n"
    "directory), then runs until SIGINT or SIGTERM and stops every component\n"
    "in name order. A second signal, a second or more after the first, ends a\n"
    "stop that hangs at once.\n"
    "With --start the components are also started (initExtend) once all are loaded.\n"
    "With --no-admin the host serves no admin pipe: kqbridge-ctl does not see it.\n";

struct Options {
  bool start = false;
  bool admin = true;
  bool help = false;
  std::vector<std::string> modules;
};

// Argv types its options by their default; the bare words --start and --help
// are the host's spelling of --start=1 and --help=1.
bool parseOptions(int argc, char** argv, Options* options) {
  std::vector<std::string> words{argv[0]};
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string name = arg.substr(0, arg.find('='));
    if (arg == "--no-admin") {
      options->admin = false;
    } else if (arg == "--start" || arg == "--help" || arg == "-h") {
      words.push_back((arg == "--start" ? "--start" : "--help") + std::string("=1"));
    } else if (name == "--start" || name == "--help") {
      words.push_back(arg);
    } else if (!arg.empty() && arg[0] == '-') {
      fprintf(stderr, "kqbridge-host: unknown option '%s'\n%s", arg.c_str(), kSynopsis);
      return false;
    } else {
      options->modules.push_back(arg);
    }
  }
  bg::Argv parser;
  parser.add("start", 0, "start the components once all modules are loaded", false, bg::Value(false));
  parser.add("help", 0, "print this text", false, bg::Value(false));
  std::vector<char*> vec;
  vec.reserve(words.size());
  for (std::string& w : words) vec.push_back(&w[0]);
  bool ok = parser.parse(static_cast<int>(vec.size()), vec.data());
  options->start = parser.exist("start") && parser.get("start", bg::Value(false)).toBool();
  options->help = parser.exist("help") && parser.get("help", bg::Value(false)).toBool();
  if (!ok || options->help) {
    FILE* out = ok ? stdout : stderr;
    if (!ok) fputs("kqbridge-host: an option's value is not understood\n", out);
    fputs(kSynopsis, out);
    fputs(parser.usage().c_str(), out);
    fputs("\n", out);
  }
  return ok;
}

// The loader takes module names relative to the executable's directory. A
// bare name that is there stays as it is; anything else is a path from the
// current directory, rewritten relative to the executable's directory.
std::string forLoader(const std::string& module) {
  namespace fs = std::filesystem;
  fs::path exeDir = bg::g_exeDir.empty() ? fs::path("/") : fs::path(bg::g_exeDir);
  fs::path given(module);
  if (!given.has_parent_path() && fs::exists(exeDir / given)) return module;
  return fs::relative(fs::absolute(given), exeDir).string();
}

bool hasModuleName(const std::string& name) {
  return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".dll") == 0;
}

// Loads one module at a time so that each outcome can be named. Two modules
// whose components share a name cannot both run (the later one takes the
// name, and the earlier is never stopped), so that is a failure too.
bool loadEach(const std::vector<std::string>& modules) {
  bool allLoaded = true;
  std::map<std::string, std::string> fileOf;  // component name -> module
  for (const std::string& module : modules) {
    bg::ModuleLoad load = bg::LoadOneModule(forLoader(module).c_str());
    const char* file = module.c_str();
    const char* comp = load.component;
    switch (load.result) {
      case bg::ModuleLoad::LOADED:
        break;
      case bg::ModuleLoad::LOADED_BEFORE:
        fprintf(stderr, "kqbridge-host: module '%s' gives component '%s' again; it runs once\n", file, comp);
        break;
      case bg::ModuleLoad::REPLACED:
        fprintf(stderr,
                "kqbridge-host: modules '%s' and '%s' both give a component named '%s'; only one can run\n",
                fileOf.count(comp) != 0 ? fileOf[comp].c_str() : "(another)", file, comp);
        allLoaded = false;
        break;
      case bg::ModuleLoad::NOT_LOADED:
        fprintf(stderr, "kqbridge-host: module '%s' was not loaded (see the messages above)\n", file);
        allLoaded = false;
        break;
      case bg::ModuleLoad::INIT_FALSE:
      case bg::ModuleLoad::INIT_THREW:
        fprintf(stderr, "kqbridge-host: module '%s' was not loaded: init() of its component '%s' %s\n", file,
                comp, load.result == bg::ModuleLoad::INIT_FALSE ? "returned false" : "threw (see above)");
        allLoaded = false;
        break;
    }
    if (comp[0] != '\0') fileOf.emplace(comp, module);
  }
  return allLoaded;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, &options)) return 2;
  if (options.help) return 0;
  if (options.modules.empty()) {
    fprintf(stderr, "kqbridge-host: no module given\n%s", kSynopsis);
    return 2;
  }
  for (const std::string& module : options.modules) {
    if (!hasModuleName(module)) {
      fprintf(stderr, "kqbridge-host: '%s' is not a module file name (MODULE.dll)\n", module.c_str());
      return 2;
    }
  }

  // Held before any thread exists, so every worker inherits the setting.
  holdStopRequests();

  bg::SetAdminPipe(options.admin);
  bg::InitBridge(1, argv);
  if (!loadEach(options.modules)) {
    bg::UninitBridge();
    return 1;
  }
  if (options.start) bg::StartModules();

  std::string request = waitForStopRequest("kqbridge-host");
  fprintf(stderr, "kqbridge-host: %s, stopping\n", request.c_str());
  bg::UninitBridge();
  return 0;
}
