#pragma once

// The report both doctors print: one line per check, "ok", "fixed" or
// "WRONG" with what was found and the one thing to do.

#include <exception>
#include <functional>
#include <iostream>
#include <string>

#include "terminal_text.h"

namespace kvd::doctor {

// Each line is flushed as it is printed, so that whatever stops the doctor
// later costs none of the answers already found.
struct Report {
  int problems = 0;
  void Ok(const std::string& what) { std::cout << "ok     " << what << std::endl; }
  void Fixed(const std::string& what) { std::cout << "fixed  " << what << std::endl; }
  void Wrong(const std::string& what, const std::string& todo) {
    ++problems;
    std::cout << "WRONG  " << what << "; " << todo << std::endl;
  }
};

// A check that fails in a way nobody foresaw is reported as failed, and the
// others still run.
inline void RunCheck(Report& report, const std::string& name, const std::function<void()>& check) {
  try {
    check();
  } catch (const std::exception& error) {
    report.Wrong(name + ": the check itself failed (" + TerminalText(error.what()) + ")",
                 "please report this line to the KvdThumb developers");
  }
}

}  // namespace kvd::doctor
