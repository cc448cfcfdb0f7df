// Test stand-in for the decryption tool: reads the password line from standard input,
// then plays back BACKUP_FOLDER/fake_script.txt, one command a line:
//   print TEXT        prints TEXT and a line feed, flushed
//   sleep MS          waits MS milliseconds
//   save_password     writes the password it received to OUTPUT_FOLDER/password.txt
//   exit N            ends with exit code N
//   signal N          ends by signal N
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (argc < 3) return 1;
  std::string password;
  std::getline(std::cin, password);
  std::ifstream script(std::string(argv[1]) + "/fake_script.txt");
  std::string line;
  while (std::getline(script, line)) {
    const std::size_t space = line.find(' ');
    const std::string command = line.substr(0, space);
    const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
    if (command == "print") {
      std::fputs((arg + "\n").c_str(), stdout);
      std::fflush(stdout);
    } else if (command == "sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(arg.c_str())));
    } else if (command == "save_password") {
      std::ofstream(std::string(argv[2]) + "/password.txt", std::ios::binary) << password;
    } else if (command == "exit") {
      return std::atoi(arg.c_str());
    } else if (command == "signal") {
      ::signal(std::atoi(arg.c_str()), SIG_DFL);
      ::raise(std::atoi(arg.c_str()));
    }
  }
  return 0;
}
