// Replays every file of the corpus directories named on the command line
// through a fuzz target, then seeded mutations of them, so that `make test`
// keeps each crash once found fixed and each target's checks running without
// clang. Exits with status 0 when no input made the target abort.
#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void run(const std::string& input) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

std::string mutate(std::string s, const std::vector<std::string>& seeds, std::mt19937& rng) {
  for (int ops = 1 + static_cast<int>(rng() % 4); ops > 0; --ops) {
    size_t at = s.empty() ? 0 : rng() % s.size();
    switch (rng() % 5) {
      case 0:
        if (!s.empty()) s[at] = static_cast<char>(rng());
        break;
      case 1:
        s.insert(at, 1, static_cast<char>(rng()));
        break;
      case 2:
        if (!s.empty()) s.erase(at, 1 + rng() % 4);
        break;
      case 3:
        s.resize(at);
        break;
      default:
        s.insert(at, seeds[rng() % seeds.size()]);
    }
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> seeds;
  for (int i = 1; i < argc; ++i) {
    DIR* dir = opendir(argv[i]);
    if (dir == nullptr) continue;
    while (dirent* e = readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      std::ifstream in(std::string(argv[i]) + "/" + e->d_name, std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      seeds.push_back(content.str());
    }
    closedir(dir);
  }
  seeds.push_back(std::string());
  for (const std::string& seed : seeds) run(seed);
  std::mt19937 rng(20261205);
  const int kMutations = 20000;
  for (int i = 0; i < kMutations; ++i) run(mutate(seeds[rng() % seeds.size()], seeds, rng));
  printf("%zu corpus inputs and %d mutations passed\n", seeds.size(), kMutations);
  return 0;
}
