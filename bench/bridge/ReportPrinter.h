#pragma once

#include "ReportFigures.h"

#include <cstdio>

namespace varnello::bench {

// The report as plain text with markdown tables, and its goals, met or not.
class ReportPrinter {
public:
    ReportPrinter(const ReportFigures& figures, std::FILE* out);

    void print();

private:
    void printMachine();
    void printLatency();
    void printSplit();
    void printSlices();
    void printOwnWork();
    void printMemoryAndStartUp();
    void printGoals();

    const RoundFigures* round(int iPads) const;
    double ownWorkMicroseconds() const;

    const ReportFigures& figures_;
    std::FILE* out_;
};

} // namespace varnello::bench
