#include <iostream>

#include "tools/prefs_tool.h"

int main(int argc, char** argv) {
  return zorvex::RunPrefsTool(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                              std::cerr);
}
