// The command-line parser takes any words (one per input line); what it
// accepts gave every required option.
#include <kqbridge/argv.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words{"prog"};
  std::string word;
  for (size_t i = 0; i < size && words.size() < 32; ++i) {
    if (data[i] == '\n') {
      words.push_back(word);
      word.clear();
    } else if (data[i] != '\0') {
      word += static_cast<char>(data[i]);
    }
  }
  words.push_back(word);
  const bool required = size > 0 && data[0] % 2 == 0;
  bg::Argv argv;
  argv.add("port", 'p', "port", false, bg::Value(80));
  argv.add("verbose", 'v', "verbose", false, bg::Value(false));
  argv.add("name", 'n', "name", required, bg::Value("n"));
  argv.add("ratio", 'r', "ratio", false, bg::Value(0.5));
  argv.add("big", 'b', "big", false, bg::Value(1LL));
  argv.add("count", 'c', "count", false, bg::Value(1u));
  std::vector<char*> args;
  for (auto& w : words) args.push_back(&w[0]);
  args.push_back(nullptr);
  if (argv.parse(static_cast<int>(words.size()), args.data()) && required && !argv.exist("name")) abort();
  if (argv.usage().empty()) abort();
  return 0;
}
