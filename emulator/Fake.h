// The fake COREDLL: one handler per function, registered by its COREDLL name
// (the export table gives the ordinal) with its argument count, grouped by area in the Fake*.cpp
// files. Every function of the export table that has no handler is a
// recorder. Every call is logged; any function can be scripted or told to
// fail on its Nth call.
#pragma once

#include "emulator/Cpu.h"
#include "emulator/FakeAudio.h"
#include "emulator/FakeDrawing.h"
#include "emulator/FakeErrors.h"
#include "emulator/FakeFiles.h"
#include "emulator/FakeModules.h"
#include "emulator/FakeRegistry.h"
#include "emulator/FakeResources.h"
#include "emulator/FakeShell.h"
#include "emulator/Handles.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmark {
class ExportTable;
}

namespace bench {

class FakeCoredll;

// What a scripted or failing call returns instead of (or after) running.
struct Outcome {
    uint32_t result = 0;
    std::optional<uint32_t> lastError;  // left alone when unset
    bool runHandler = false;            // run the function, then replace its result

    static Outcome returns(uint32_t result) { return Outcome{result, std::nullopt, false}; }
    Outcome withLastError(uint32_t error) const {
        Outcome o = *this;
        o.lastError = error;
        return o;
    }
    // The function still runs (and its effects happen); only its result
    // and, if given, the last-error value are replaced.
    Outcome afterRunning() const {
        Outcome o = *this;
        o.runHandler = true;
        return o;
    }
};

struct LoggedCall {
    uint16_t ordinal = 0;
    std::string name;
    std::vector<uint32_t> args;  // the declared count; recorders log recorderArgCount
    // r0-r3 and the four stack words above sp as the function saw them,
    // whatever its declared count (stack words that are not mapped read 0).
    std::vector<uint32_t> entryWords;
    uint32_t result = 0;
    uint32_t lastError = 0;      // the thread's value when the function returned
    uint32_t lr = 0;             // return address as the function saw it
    uint32_t sp = 0;             // stack pointer as the function saw it
    uint32_t thread = 0;
    int depth = 0;               // 1 for a call made by a top-level call, 2 inside a callback...
    bool scripted = false;
    bool injected = false;       // failed by failOnCall
    bool faulted = false;        // the function faulted (the call fails)
};

// A fake function named by ordinal or by its export-table name.
class FunctionRef {
public:
    FunctionRef(int ordinal) : ordinal_(uint16_t(ordinal)) {}
    FunctionRef(const char* name) : name_(name) {}
    FunctionRef(std::string name) : name_(std::move(name)) {}
    uint16_t resolve(const velmark::ExportTable& table) const;

private:
    std::optional<uint16_t> ordinal_;
    std::string name_;
};

// What a handler sees of the call it serves.
class CallContext {
public:
    CallContext(FakeCoredll& fake, uint16_t ordinal) : fake_(fake), ordinal_(ordinal) {}

    uint16_t ordinal() const { return ordinal_; }
    // Argument i: r0-r3, then the stack.
    uint32_t arg(unsigned i) const;
    Memory& memory();
    uint32_t thread() const;
    void setLastError(uint32_t error);
    // r1 on return, for functions with a 64-bit result.
    void setHigh(uint32_t value) { high_ = value; }
    std::optional<uint32_t> high() const { return high_; }
    // Runs emulated code (a callback of the module) on `thread` as a nested
    // call; a fault in it makes this call fault too.
    uint32_t callEmulated(uint32_t address, const std::vector<uint32_t>& args, uint32_t thread);

private:
    FakeCoredll& fake_;
    uint16_t ordinal_;
    std::optional<uint32_t> high_;
};

using Handler = std::function<uint32_t(CallContext&)>;

struct FakeFunction {
    uint16_t ordinal = 0;
    std::string name;
    int argCount = 0;  // -1: variadic, log recorderArgCount words
    Outcome failure;   // what failOnCall makes it return
    Handler handler;
    bool recorder = false;
};

class FakeCoredll : public TrapHandler {
public:
    static constexpr uint32_t kMainThread = 1;
    static constexpr uint32_t kCallbackThread = 2;  // where waveform callbacks are delivered

    FakeCoredll(const velmark::ExportTable& table, Cpu& cpu);
    FakeCoredll(const FakeCoredll&) = delete;
    FakeCoredll& operator=(const FakeCoredll&) = delete;

    // Registers a handler under the export table's ordinal for the name.
    void define(const char* name, int argCount, Outcome failure, Handler handler);
    bool exports(uint16_t ordinal) const { return functions_.count(ordinal) != 0; }
    // The fake stops exporting the function (an image importing it is refused,
    // a call to its trap faults).
    void withdraw(FunctionRef fn);
    // COREDLL's ordinal for a name (the export table's), or nullopt.
    std::optional<uint16_t> ordinalOf(std::string_view name) const;
    const velmark::ExportTable& table() const { return table_; }
    std::string nameOf(uint16_t ordinal) const;

    // Scripting. A queued outcome is used by the next call, before any
    // "always" outcome; failOnCall(fn, n) makes the nth call from now
    // (1 = the next) return the function's declared failure.
    void scriptNext(FunctionRef fn, Outcome outcome);
    void scriptAlways(FunctionRef fn, Outcome outcome);
    void clearScripts(FunctionRef fn);
    void failOnCall(FunctionRef fn, unsigned n);
    Outcome declaredFailure(FunctionRef fn) const;
    // The function's nth call from now (1 = the next) raises an access
    // violation on entry, as COREDLL does on a bad pointer: the call faults
    // (FaultKind::Exception) with the registers as the function received them.
    void raiseOnCall(FunctionRef fn, unsigned n = 1);
    // Recorders return this unless scripted (result 0, last-error untouched).
    void setRecorderDefault(Outcome outcome) { recorderDefault_ = outcome; }
    void setRecorderArgCount(int count) { recorderArgCount_ = count; }

    // The call log, in the order the calls were entered.
    const std::vector<LoggedCall>& calls() const { return log_; }
    std::vector<LoggedCall> callsTo(FunctionRef fn) const;
    size_t countOf(FunctionRef fn) const { return callsTo(fn).size(); }
    void clearLog() { log_.clear(); }

    uint32_t thread() const { return thread_; }
    void setThread(uint32_t thread) { thread_ = thread; }

    // The areas.
    HandleLedger& handles() { return handles_; }
    ThreadErrors& errors() { return errors_; }
    Registry& registry() { return registry_; }
    FileSystem& files() { return files_; }
    Modules& modules() { return modules_; }
    Resources& resources() { return resources_; }
    Gdi& gdi() { return gdi_; }
    Audio& audio() { return audio_; }
    Shell& shell() { return shell_; }
    Memory& memory() { return cpu_.memory(); }
    Cpu& cpu() { return cpu_; }

    bool onTrap(uint16_t ordinal) override;

private:
    struct Script {
        std::deque<Outcome> next;
        std::optional<Outcome> always;
        std::vector<uint64_t> failAt;  // call numbers
    };
    std::optional<Outcome> takeOutcome(uint16_t ordinal, uint64_t callNumber, bool& injected);
    void defineRecorders();

    const velmark::ExportTable& table_;
    Cpu& cpu_;
    HandleLedger handles_;
    ThreadErrors errors_;
    Registry registry_;
    FileSystem files_;
    Modules modules_;
    Gdi gdi_;
    Audio audio_;
    Resources resources_;
    Shell shell_;

    std::map<uint16_t, FakeFunction> functions_;
    std::map<uint16_t, Script> scripts_;
    std::map<uint16_t, uint64_t> callCounts_;
    std::map<uint16_t, unsigned> raising_;  // calls to go before the raise
    std::vector<LoggedCall> log_;
    Outcome recorderDefault_;
    int recorderArgCount_ = 8;
    uint32_t thread_ = kMainThread;
};

}  // namespace bench
