// Page faults taken by the calling thread, for the tests and benchmarks that
// show the load never touches a page for the first time on the audio thread.
#ifndef MB_TEST_PAGEFAULTS_H
#define MB_TEST_PAGEFAULTS_H

#if defined(__linux__)
#include <sys/resource.h>
#endif

// The thread's minor and major faults so far; -1 where there is no such
// count (Wine leaves the process's PageFaultCount at 0).
inline long PAGEFAULTS_OfThread() {
#if defined(__linux__)
  struct rusage usage;
  if (getrusage(RUSAGE_THREAD, &usage) == 0) return usage.ru_minflt + usage.ru_majflt;
#endif
  return -1;
}

#endif  // MB_TEST_PAGEFAULTS_H
