// corvel: converts a workbook into a PostgreSQL database from the command line.
#include <malloc.h>

#include <cstdio>
#include <exception>

#include "agent/agent_main.h"
#include "converter/exit_signal.h"

int main(int argc, char** argv) {
  // The sheet readers run on several threads; an allocator pool for each of them kept up to a
  // third of the peak memory idle on workbooks of many sheets, for no gain in speed.
  mallopt(M_ARENA_MAX, 4);
  try {
    return agent_main(argc, argv);
  } catch (const tmd_exit_signal& signal) {
    return signal.status();
  } catch (const std::exception& e) {
    // Only a failure while the agent's own objects are being built gets here.
    std::fprintf(stderr, "%s\n", e.what());
    return tmd_exit_signal::failure_status;
  }
}
