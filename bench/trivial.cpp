// The yardstick of the start-up benchmark: a C++ program that prints a line with the standard
// streams and ends.
#include <iostream>

int main() {
  std::cout << "{}\n";
  return 0;
}
