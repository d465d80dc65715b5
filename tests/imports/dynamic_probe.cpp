// Linked the default way, against mingw's shared runtime DLLs: the import
// check must reject it.
#include <iostream>
#include <string>

int main(int argc, char**) { std::cout << std::string(static_cast<size_t>(argc), '*') << '\n'; }
