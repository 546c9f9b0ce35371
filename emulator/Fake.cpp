#include "emulator/Fake.h"

#include "emulator/FakeText.h"
#include "formats/exporttable/ExportTable.h"

namespace bench {
namespace {

// Scratch registers get these on return from a fake function, as a real
// callee would leave them changed: module code that relies on r1-r3 or ip
// surviving a COREDLL call breaks on the bench as it would on the device.
constexpr uint32_t kScratchJunk = 0xFA4E0000;

}  // namespace

uint16_t FunctionRef::resolve(const velmark::ExportTable& table) const {
    if (ordinal_) return *ordinal_;
    const velmark::ExportEntry* row = table.findName(name_);
    if (!row) throw BenchMisuse("no COREDLL function named " + name_ + " in the export table");
    return row->ordinal;
}

uint32_t CallContext::arg(unsigned i) const { return fake_.cpu().arg(i); }
Memory& CallContext::memory() { return fake_.memory(); }
uint32_t CallContext::thread() const { return fake_.thread(); }
void CallContext::setLastError(uint32_t error) { fake_.errors().set(fake_.thread(), error); }

uint32_t CallContext::callEmulated(uint32_t address, const std::vector<uint32_t>& args, uint32_t thread) {
    uint32_t outer = fake_.thread();
    fake_.setThread(thread);
    CallResult result = fake_.cpu().call(address, args);
    fake_.setThread(outer);
    if (!result.ok())
        throw std::runtime_error("the callback at " + hex(address) + " failed: " + result.describe());
    return result.r0;
}

FakeCoredll::FakeCoredll(const velmark::ExportTable& table, Cpu& cpu)
    : table_(table),
      cpu_(cpu),
      registry_(handles_),
      files_(cpu.memory(), handles_),
      modules_(files_, handles_),
      gdi_(handles_),
      audio_(handles_),
      resources_(modules_, gdi_, handles_, cpu.memory()),
      shell_(handles_) {
    defineErrors(*this);
    defineRegistry(*this);
    defineModules(*this);
    defineResources(*this);
    defineText(*this);
    defineDrawing(*this);
    defineFiles(*this);
    defineAudio(*this);
    defineShell(*this);
    defineRecorders();
    cpu_.setTrapHandler(this);
}

void FakeCoredll::define(const char* name, int argCount, Outcome failure, Handler handler) {
    const velmark::ExportEntry* row = table_.findName(name);
    if (!row) throw BenchMisuse(std::string("fake ") + name + " defined, but the export table has no such name");
    if (functions_.count(row->ordinal)) throw BenchMisuse(std::string("fake ") + name + " defined twice");
    functions_[row->ordinal] = FakeFunction{row->ordinal, name, argCount, failure, std::move(handler), false};
}

void FakeCoredll::defineRecorders() {
    for (const velmark::ExportEntry& row : table_.rows()) {
        if (functions_.count(row.ordinal)) continue;
        FakeFunction recorder{row.ordinal, row.name, -1, Outcome::returns(0), nullptr, true};
        recorder.handler = [this](CallContext& call) {
            if (recorderDefault_.lastError) call.setLastError(*recorderDefault_.lastError);
            return recorderDefault_.result;
        };
        functions_[row.ordinal] = std::move(recorder);
    }
}

void FakeCoredll::withdraw(FunctionRef fn) { functions_.erase(fn.resolve(table_)); }

std::optional<uint16_t> FakeCoredll::ordinalOf(std::string_view name) const {
    const velmark::ExportEntry* row = table_.findName(name);
    if (!row) return std::nullopt;
    return row->ordinal;
}

std::string FakeCoredll::nameOf(uint16_t ordinal) const {
    const velmark::ExportEntry* row = table_.findOrdinal(ordinal);
    return row ? row->name : "ordinal " + std::to_string(ordinal);
}

void FakeCoredll::scriptNext(FunctionRef fn, Outcome outcome) {
    scripts_[fn.resolve(table_)].next.push_back(outcome);
}

void FakeCoredll::scriptAlways(FunctionRef fn, Outcome outcome) { scripts_[fn.resolve(table_)].always = outcome; }

void FakeCoredll::clearScripts(FunctionRef fn) { scripts_.erase(fn.resolve(table_)); }

void FakeCoredll::failOnCall(FunctionRef fn, unsigned n) {
    if (n == 0) throw BenchMisuse("failOnCall counts from 1");
    uint16_t ordinal = fn.resolve(table_);
    scripts_[ordinal].failAt.push_back(callCounts_[ordinal] + n);
}

Outcome FakeCoredll::declaredFailure(FunctionRef fn) const {
    auto it = functions_.find(fn.resolve(table_));
    if (it == functions_.end()) throw BenchMisuse("the fake does not export " + nameOf(fn.resolve(table_)));
    return it->second.failure;
}

std::vector<LoggedCall> FakeCoredll::callsTo(FunctionRef fn) const {
    uint16_t ordinal = fn.resolve(table_);
    std::vector<LoggedCall> found;
    for (const LoggedCall& call : log_)
        if (call.ordinal == ordinal) found.push_back(call);
    return found;
}

std::optional<Outcome> FakeCoredll::takeOutcome(uint16_t ordinal, uint64_t callNumber, bool& injected) {
    injected = false;
    auto it = scripts_.find(ordinal);
    if (it == scripts_.end()) return std::nullopt;
    Script& script = it->second;
    for (auto at = script.failAt.begin(); at != script.failAt.end(); ++at) {
        if (*at == callNumber) {
            script.failAt.erase(at);
            injected = true;
            return functions_.at(ordinal).failure;
        }
    }
    if (!script.next.empty()) {
        Outcome outcome = script.next.front();
        script.next.pop_front();
        return outcome;
    }
    return script.always;
}

void FakeCoredll::raiseOnCall(FunctionRef fn, unsigned n) {
    if (n == 0) throw BenchMisuse("raiseOnCall counts calls from 1");
    raising_[fn.resolve(table_)] = n;
}

bool FakeCoredll::onTrap(uint16_t ordinal) {
    auto found = functions_.find(ordinal);
    if (found == functions_.end()) return false;
    const FakeFunction& fn = found->second;
    auto raise = raising_.find(ordinal);
    if (raise != raising_.end() && --raise->second == 0) {
        raising_.erase(raise);
        cpu_.fail({FaultKind::Exception, cpu_.reg(15), 0,
                   "access violation raised inside COREDLL's " + fn.name + ", called from " + hex(cpu_.reg(14))});
        return true;
    }

    LoggedCall entry;
    entry.ordinal = ordinal;
    entry.name = fn.name;
    entry.lr = cpu_.reg(14);
    entry.sp = cpu_.reg(13);
    entry.thread = thread_;
    entry.depth = cpu_.depth();
    int logged = fn.argCount < 0 ? recorderArgCount_ : fn.argCount;
    for (int i = 0; i < logged; ++i) {
        if (i >= 4 && !memory().has(entry.sp + 4 * uint32_t(i - 4), 4, kRead)) break;
        entry.args.push_back(cpu_.arg(unsigned(i)));
    }
    for (unsigned i = 0; i < 8; ++i)
        entry.entryWords.push_back(i < 4 || memory().has(entry.sp + 4 * (i - 4), 4, kRead) ? cpu_.arg(i) : 0);
    size_t index = log_.size();
    log_.push_back(entry);

    bool injected = false;
    std::optional<Outcome> outcome = takeOutcome(ordinal, ++callCounts_[ordinal], injected);
    CallContext context(*this, ordinal);
    uint32_t result = 0;
    if (outcome && !outcome->runHandler) {
        result = outcome->result;
    } else {
        try {
            result = fn.handler(context);
        } catch (const std::exception& e) {
            log_[index].faulted = true;
            throw std::runtime_error(fn.name + ": " + e.what());
        }
        if (outcome) result = outcome->result;
    }
    if (outcome && outcome->lastError) errors_.set(thread_, *outcome->lastError);

    log_[index].result = result;
    log_[index].lastError = errors_.get(thread_);
    log_[index].scripted = outcome.has_value() && !injected;
    log_[index].injected = injected;

    cpu_.setReg(0, result);
    cpu_.setReg(1, context.high() ? *context.high() : kScratchJunk | 1);
    cpu_.setReg(2, kScratchJunk | 2);
    cpu_.setReg(3, kScratchJunk | 3);
    cpu_.setReg(12, kScratchJunk | 12);
    cpu_.setReg(15, entry.lr);
    return true;
}

}  // namespace bench
