#pragma once
// rpc_test_client.exe, started from beside this program, with pipes on its stdin and stdout.

#include "norvo/windows/win32.hpp"

#include <string>

namespace norvo::windows::rpc::test {

class ClientProcess {
  public:
    explicit ClientProcess(const wchar_t* mode);
    // Blocks until the client has written a line.
    std::string line();
    // Closes the client's stdin and waits until it has ended.
    void finish();
    // Kills the client and waits until it is gone.
    void kill();

  private:
    UniqueHandle input_;
    UniqueHandle output_;
    UniqueHandle process_;
};

}  // namespace norvo::windows::rpc::test
