// Stepping every allocation of an operation through failure. The test program replaces the
// global allocation functions (alloc_steps_internal_test.cpp defines them, once for the program):
// operator new in every form, and where the platform lets a program take them over, malloc,
// calloc and realloc as well. While a step is armed on the calling thread, the N-th allocation
// from then on fails; other threads and unarmed code allocate as usual.
#pragma once

#include <functional>
#include <string>

namespace allocsteps {

// Which allocations an armed step counts.
enum class eScope {
    // Every allocation on the thread, the C library's own included (a file opened by the
    // library, a resolver answer).
    Everything,
    // Only allocations asked for by the program itself (the library, the test): lookups that
    // would fall back to another source, such as a name server on the network, when the C
    // library runs out of memory inside its own file lookup.
    Program,
};

// True where malloc, calloc and realloc are counted too, not operator new alone.
bool CountsMalloc();

// Runs op with the step-th allocation failing; true when that failure was handed out. An
// exception leaving op is a test failure.
bool RunStep(int step, const std::function<void()> &op, eScope scope = eScope::Everything);

// One case: prepare makes fresh inputs (unarmed), op is the operation, check judges its outcome
// (on a run where an allocation failed, and on the final clean run).
struct Case {
    const char *name;
    std::function<void()> prepare;
    std::function<void()> op;
    std::function<void(bool failedAnAllocation)> check;
    // False where a platform may do the operation without any allocation that is counted (a
    // Windows event is the system's own object).
    bool allocates = true;
    eScope scope = eScope::Everything;
};

// Runs the case with N = 1, 2, ... until a run meets no armed failure; returns the number of
// allocation steps that failed (the number of allocations of the operation).
int StepThrough(const Case &c);

// Longer than any small buffer the library or the standard library keeps in place.
extern const std::string kLong;

} // namespace allocsteps
