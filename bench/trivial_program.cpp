// The reference for the sample's whole run: a C++ program that starts and
// joins one thread and prints four lines, and does nothing else.
#include <iostream>
#include <thread>

int main() {
  std::thread worker([] {});
  worker.join();
  std::cout << 20 << std::endl;
  std::cout << 40 << std::endl;
  std::cout << 80 << std::endl;
  std::cout << "+ 1 Latency" << std::endl;
  return 0;
}
