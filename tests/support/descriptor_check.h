// The descriptors (POSIX) or handles (Windows) the process holds, for the check that runs after
// every test suite and for tests that look at descriptors themselves.
#pragma once

#include <map>
#include <string>

namespace qvtest {

// Every open descriptor or handle by its number, with what it refers to: on Linux the target of
// its /proc/self/fd link, on Windows the kind of object (and a file's path), "?" where unknown.
std::map<long long, std::string> OpenDescriptors();

// The entries of `after` that `before` does not hold with the same description.
std::map<long long, std::string> NewDescriptors(const std::map<long long, std::string> &before,
                                                const std::map<long long, std::string> &after);

// One line per entry, each starting on a new line, for failure messages.
std::string DescribeDescriptors(const std::map<long long, std::string> &list);

} // namespace qvtest
