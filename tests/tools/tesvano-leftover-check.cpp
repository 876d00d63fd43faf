// Runs after a suite whose tests start real daemons: lists every process still carrying the
// suite's mark (the test runner's TESVANO_TEST_SUITE value, given as the one argument), ends
// them, and fails when there was any. Each test's session should have ended them all.
//   tesvano-leftover-check SUITE-MARK
#include <iostream>
#include <string>

#include "tests/support/PrivateSession.h"

int main(int argc, char** argv) {
    using namespace tesvano::test;
    if (argc != 2 || !*argv[1]) {
        std::cerr << "usage: tesvano-leftover-check SUITE-MARK\n";
        return 2;
    }
    const auto leftovers = processesWithEnvironment({std::string(suiteVariable) + "=" + argv[1]});
    for (const auto& process : leftovers) {
        std::cerr << "left running after the suite: " << process.pid << " " << process.commandLine
                  << "\n";
    }
    endProcesses(leftovers);
    if (!leftovers.empty()) {
        std::cerr << leftovers.size() << " process(es) of " << argv[1] << " outlived their tests\n";
        return 1;
    }
    std::cout << "nothing of " << argv[1] << " left running\n";
    return 0;
}
