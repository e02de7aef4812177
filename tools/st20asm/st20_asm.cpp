// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/st20asm/st20_asm.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace orbvex::st20asm {
namespace {

constexpr unsigned kPfix = 0x2;
constexpr unsigned kNfix = 0x6;
constexpr unsigned kOpr = 0xF;

const std::map<std::string, unsigned>& DirectFunctions() {
    static const std::map<std::string, unsigned> table = {
        {"j", 0x0}, {"ldlp", 0x1}, {"pfix", 0x2}, {"ldnl", 0x3}, {"ldc", 0x4}, {"ldnlp", 0x5}, {"nfix", 0x6}, {"ldl", 0x7}, {"adc", 0x8}, {"call", 0x9}, {"cj", 0xA}, {"ajw", 0xB}, {"eqc", 0xC}, {"stl", 0xD}, {"stnl", 0xE}, {"opr", 0xF}};
    return table;
}

// Operations by their table number; the "negative" ones are reached through nfix.
struct Operation {
    unsigned number;
    bool negative;
};

const std::map<std::string, Operation>& Operations() {
    static const std::map<std::string, Operation> table = {
        {"rev", {0x00, false}}, {"lb", {0x01, false}}, {"bsub", {0x02, false}}, {"diff", {0x04, false}}, {"add", {0x05, false}}, {"gcall", {0x06, false}}, {"prod", {0x08, false}}, {"gt", {0x09, false}}, {"wsub", {0x0A, false}}, {"sub", {0x0C, false}}, {"ladd", {0x16, false}}, {"ldpi", {0x1B, false}}, {"ret", {0x20, false}}, {"not", {0x32, false}}, {"xor", {0x33, false}}, {"sb", {0x3B, false}}, {"shr", {0x40, false}}, {"shl", {0x41, false}}, {"mint", {0x42, false}}, {"and", {0x46, false}}, {"or", {0x4B, false}}, {"dup", {0x5A, false}}, {"gtu", {0x5F, false}}, {"pop", {0x79, false}}, {"ssub", {0xC1, false}}, {"ss", {0xC8, false}}, {"ls", {0xCA, false}}, {"devlb", {0xF0, false}}, {"devsb", {0xF1, false}}, {"devls", {0xF2, false}}, {"devss", {0xF3, false}}, {"devlw", {0xF4, false}}, {"devsw", {0xF5, false}}, {"lsx", {0xF9, false}}, {"nop", {0x30, true}}, {"ldprodid", {0x8C, true}}, {"ldtimer", {0x22, false}}};
    return table;
}

std::vector<std::uint8_t> Chain(unsigned function, std::int64_t v) {
    std::vector<std::uint8_t> bytes;
    if (v >= 16) {
        bytes = Chain(kPfix, v >> 4);
    } else if (v < 0) {
        bytes = Chain(kNfix, (~v) >> 4);
    }
    bytes.push_back(static_cast<std::uint8_t>((function << 4) | (v & 0xF)));
    return bytes;
}

// The operand the last byte of `bytes` acts with, as the CPU builds it in Oreg.
std::uint32_t Decode(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t oreg = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        const std::uint32_t nibble = bytes[i] & 0xFu;
        oreg = (bytes[i] >> 4) == kPfix ? (oreg | nibble) << 4 : ~(oreg | nibble) << 4;
    }
    return oreg | (bytes.back() & 0xFu);
}

// An expression's value and how many addresses it holds (+1 for a label, -1 for one
// subtracted), so that "label" and "label + 4" read as addresses and "a - b" as a length.
struct Value {
    std::int64_t number = 0;
    int addresses = 0;
};

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Evaluator {
public:
    using Lookup = std::function<Value(const std::string&)>;
    Evaluator(const std::string& text, Lookup lookup) : text_(text), lookup_(std::move(lookup)) {}

    Value Run() {
        const Value v = Sum();
        Skip();
        if (pos_ != text_.size()) throw Failure("unexpected '" + text_.substr(pos_) + "' in \"" + text_ + "\"");
        return v;
    }

private:
    void Skip() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    }
    bool Take(char c) {
        Skip();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    Value Sum() {
        Value v = Product();
        for (;;) {
            if (Take('+')) {
                const Value r = Product();
                v = {v.number + r.number, v.addresses + r.addresses};
            } else if (Take('-')) {
                const Value r = Product();
                v = {v.number - r.number, v.addresses - r.addresses};
            } else {
                return v;
            }
        }
    }
    Value Product() {
        Value v = Unary();
        for (;;) {
            const bool times = Take('*');
            if (!times && !Take('/')) return v;
            const Value r = Unary();
            if (v.addresses || r.addresses) throw Failure("an address cannot be multiplied or divided");
            if (!times && r.number == 0) throw Failure("division by zero in \"" + text_ + "\"");
            v.number = times ? v.number * r.number : v.number / r.number;
        }
    }
    Value Unary() {
        if (Take('-')) {
            const Value v = Unary();
            return {-v.number, -v.addresses};
        }
        if (Take('~')) {
            const Value v = Unary();
            if (v.addresses) throw Failure("an address cannot be complemented");
            return {~v.number, 0};
        }
        if (Take('(')) {
            const Value v = Sum();
            if (!Take(')')) throw Failure("missing ')' in \"" + text_ + "\"");
            return v;
        }
        return Atom();
    }
    Value Atom() {
        Skip();
        const std::size_t start = pos_;
        auto isWord = [this](std::size_t i) {
            return i < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[i])) || text_[i] == '_' ||
                                        text_[i] == '.' || text_[i] == '#');
        };
        while (isWord(pos_)) ++pos_;
        const std::string word = text_.substr(start, pos_ - start);
        if (word.empty()) throw Failure("an operand is missing in \"" + text_ + "\"");
        if (std::isdigit(static_cast<unsigned char>(word[0])) || word[0] == '#') return {ParseNumber(word), 0};
        return lookup_(word);
    }
    static std::int64_t ParseNumber(const std::string& word) {
        std::string digits = word;
        int base = 10;
        if (word[0] == '#') {
            digits = word.substr(1);
            base = 16;
        } else if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
            digits = word.substr(2);
            base = 16;
        }
        std::size_t used = 0;
        std::int64_t n = 0;
        try {
            n = static_cast<std::int64_t>(std::stoull(digits, &used, base));
        } catch (const std::exception&) {
            used = 0;
        }
        if (digits.empty() || used != digits.size() || n > 0xFFFFFFFFll) throw Failure("bad number " + word);
        return n;
    }

    const std::string& text_;
    Lookup lookup_;
    std::size_t pos_ = 0;
};

struct Statement {
    enum class Kind { Direct,
                      Bytes,
                      Words,
                      Align,
                      Space } kind = Kind::Direct;
    int line = 0;
    unsigned function = 0;
    bool relative = false;  // j, cj, call
    std::optional<std::int64_t> fixedOperand;
    std::vector<std::string> operands;
    std::uint32_t address = 0;
    std::size_t size = 0;
};

std::string Trim(const std::string& s) {
    const std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

std::vector<std::string> SplitOperands(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) parts.push_back(Trim(part));
    return parts;
}

class Assembler {
public:
    Assembler(std::uint32_t origin, IncludeReader reader) : origin_(origin), reader_(std::move(reader)) {}

    Assembly Run(const std::string& source) {
        ParseText(source, 0);
        if (result_.errors.empty()) Layout();
        if (result_.errors.empty()) Emit();
        if (!result_.errors.empty()) {
            result_.image.clear();
            result_.listing.clear();
        }
        return std::move(result_);
    }

private:
    void Error(int line, const std::string& message) { result_.errors.push_back({line, message}); }

    // An included file's statements count as the .include line's, for errors and the
    // listing; its own line is named in the message.
    void ParseText(const std::string& source, int includedAt) {
        std::stringstream in(source);
        std::string text;
        int line = 0;
        const std::size_t errors = result_.errors.size();
        while (std::getline(in, text)) {
            ++line;
            Parse(includedAt ? includedAt : line, text);
            if (includedAt) {
                for (std::size_t e = errors; e < result_.errors.size(); ++e) {
                    if (result_.errors[e].message.find("(included line") == std::string::npos) {
                        result_.errors[e].message += " (included line " + std::to_string(line) + ")";
                    }
                }
            }
        }
    }

    void Include(int line, const std::string& rest) {
        if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') return Error(line, ".include wants \"FILE\"");
        if (++depth_ > 8) return Error(line, ".include nests too deep");
        const std::string name = rest.substr(1, rest.size() - 2);
        const std::optional<std::string> text = reader_ ? reader_(name) : std::nullopt;
        if (!text) Error(line, "\"" + name + "\" cannot be read");
        else ParseText(*text, line);
        --depth_;
    }

    void Parse(int line, std::string text) {
        text = Trim(text.substr(0, text.find(';')));
        if (text.empty() || text[0] == '#') return;
        if (text.rfind(".include", 0) == 0 && (text.size() == 8 || std::isspace(static_cast<unsigned char>(text[8])))) {
            return Include(line, Trim(text.substr(8)));
        }
        const std::size_t colon = text.find(':');
        if (colon != std::string::npos) {
            const std::string label = Trim(text.substr(0, colon));
            if (!ValidName(label)) return Error(line, "bad label \"" + label + "\"");
            if (labels_.count(label) || equates_.count(label)) return Error(line, "\"" + label + "\" is defined twice");
            labels_[label] = statements_.size();
            text = Trim(text.substr(colon + 1));
            if (text.empty()) return;
        }
        const std::size_t gap = text.find_first_of(" \t");
        const std::string mnemonic = text.substr(0, gap);
        const std::string rest = gap == std::string::npos ? std::string() : Trim(text.substr(gap));
        Statement s;
        s.line = line;
        if (mnemonic[0] == '.') return ParseDirective(s, mnemonic, rest);
        if (const auto f = DirectFunctions().find(mnemonic); f != DirectFunctions().end()) {
            if (rest.empty()) return Error(line, mnemonic + " needs an operand");
            s.function = f->second;
            s.relative = s.function == 0x0 || s.function == 0x9 || s.function == 0xA;
            s.operands = {rest};
        } else if (const auto op = Operations().find(mnemonic); op != Operations().end()) {
            if (!rest.empty()) return Error(line, mnemonic + " takes no operand");
            const std::int64_t k = op->second.number;
            s.function = kOpr;
            s.fixedOperand = op->second.negative ? static_cast<std::int32_t>((~k & ~0xFll) | (k & 0xF)) : k;
        } else {
            return Error(line, "unknown instruction \"" + mnemonic + "\"");
        }
        s.size = 1;
        statements_.push_back(s);
    }

    void ParseDirective(Statement& s, const std::string& name, const std::string& rest) {
        if (name == ".equ") {
            const std::vector<std::string> parts = SplitOperands(rest);
            if (parts.size() != 2 || !ValidName(parts[0])) return Error(s.line, ".equ wants NAME, VALUE");
            if (labels_.count(parts[0]) || equates_.count(parts[0])) {
                return Error(s.line, "\"" + parts[0] + "\" is defined twice");
            }
            equates_[parts[0]] = parts[1];
            return;
        }
        static const std::map<std::string, Statement::Kind> kinds = {{".word", Statement::Kind::Words},
                                                                     {".byte", Statement::Kind::Bytes},
                                                                     {".align", Statement::Kind::Align},
                                                                     {".space", Statement::Kind::Space}};
        const auto kind = kinds.find(name);
        if (kind == kinds.end()) return Error(s.line, "unknown directive \"" + name + "\"");
        s.kind = kind->second;
        s.operands = SplitOperands(rest);
        const bool listed = s.kind == Statement::Kind::Words || s.kind == Statement::Kind::Bytes;
        if (s.operands.empty() || (!listed && s.operands.size() != 1)) return Error(s.line, name + " needs one value");
        for (const std::string& operand : s.operands) {
            if (operand.empty()) return Error(s.line, name + ": an empty value");
        }
        statements_.push_back(s);
    }

    static bool ValidName(const std::string& name) {
        if (name.empty() || !(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_' || name[0] == '.')) {
            return false;
        }
        for (const char c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.') return false;
        }
        return !DirectFunctions().count(name) && !Operations().count(name);
    }

    std::uint32_t EndAddress() const {
        return statements_.empty() ? origin_
                                   : statements_.back().address + static_cast<std::uint32_t>(statements_.back().size);
    }

    Value Lookup(const std::string& name, int depth) const {
        if (const auto label = labels_.find(name); label != labels_.end()) {
            const std::uint32_t a = label->second < statements_.size() ? statements_[label->second].address : EndAddress();
            return {a, 1};
        }
        if (const auto equate = equates_.find(name); equate != equates_.end()) {
            if (depth > 32) throw Failure("\"" + name + "\" is defined through itself");
            return Evaluate(equate->second, depth + 1);
        }
        throw Failure("\"" + name + "\" is not defined");
    }

    Value Evaluate(const std::string& text, int depth = 0) const {
        return Evaluator(text, [this, depth](const std::string& name) { return Lookup(name, depth); }).Run();
    }

    // The operand the statement's function must receive at its present place and size.
    std::int64_t Operand(const Statement& s) const {
        if (s.fixedOperand) return *s.fixedOperand;
        const Value v = Evaluate(s.operands[0]);
        if (s.relative && v.addresses == 1) return v.number - (static_cast<std::int64_t>(s.address) + s.size);
        if (v.addresses != 0 && !(v.addresses == 1 && !s.relative)) throw Failure("\"" + s.operands[0] + "\" is no address");
        if (v.number < -0x80000000ll || v.number > 0xFFFFFFFFll) throw Failure(s.operands[0] + " does not fit a word");
        return v.number;
    }

    std::size_t NeededSize(const Statement& s) const {
        switch (s.kind) {
        case Statement::Kind::Direct:
            return EncodeDirect(s.function, Operand(s)).size();
        case Statement::Kind::Bytes:
            return s.operands.size();
        case Statement::Kind::Words:
            return 4 * s.operands.size();
        case Statement::Kind::Align: {
            const std::int64_t n = Evaluate(s.operands[0]).number;
            if (n <= 0 || n > 4096) throw Failure(".align wants 1 to 4096");
            return static_cast<std::size_t>((n - s.address % n) % n);
        }
        case Statement::Kind::Space: {
            const std::int64_t n = Evaluate(s.operands[0]).number;
            if (n < 0 || n > (1 << 20)) throw Failure(".space wants 0 to 1 MiB");
            return static_cast<std::size_t>(n);
        }
        }
        return 0;
    }

    // Sizes start at their least and grow until every operand fits: the fixed point
    // that forward references need. Instructions only grow, so it is reached; an
    // instruction left longer than its operand needs is padded with leading pfix 0.
    void Layout() {
        for (int pass = 0; pass < 1000; ++pass) {
            bool changed = false;
            std::uint32_t address = origin_;
            for (Statement& s : statements_) {
                s.address = address;
                address += static_cast<std::uint32_t>(s.size);
            }
            for (Statement& s : statements_) {
                std::size_t need = 0;
                try {
                    need = NeededSize(s);
                } catch (const Failure& f) {
                    Error(s.line, f.what());
                    continue;
                }
                if (s.kind == Statement::Kind::Direct) need = std::max(need, s.size);
                if (need != s.size) {
                    s.size = need;
                    changed = true;
                }
            }
            if (!result_.errors.empty() || !changed) return;
        }
        Error(0, "the layout does not settle");
    }

    void Emit() {
        for (const Statement& s : statements_) {
            std::vector<std::uint8_t> bytes;
            try {
                bytes = Bytes(s);
            } catch (const Failure& f) {
                Error(s.line, f.what());
                continue;
            }
            result_.listing.push_back({s.address, bytes, s.line});
            result_.image.insert(result_.image.end(), bytes.begin(), bytes.end());
        }
    }

    std::vector<std::uint8_t> Bytes(const Statement& s) const {
        std::vector<std::uint8_t> bytes;
        switch (s.kind) {
        case Statement::Kind::Direct:
            bytes = EncodeDirect(s.function, Operand(s));
            bytes.insert(bytes.begin(), s.size - bytes.size(), static_cast<std::uint8_t>(kPfix << 4));
            break;
        case Statement::Kind::Bytes:
            for (const std::string& operand : s.operands) {
                const std::int64_t v = Evaluate(operand).number;
                if (v < -128 || v > 255) throw Failure(operand + " does not fit a byte");
                bytes.push_back(static_cast<std::uint8_t>(v));
            }
            break;
        case Statement::Kind::Words:
            for (const std::string& operand : s.operands) {
                const std::int64_t v = Evaluate(operand).number;
                if (v < -0x80000000ll || v > 0xFFFFFFFFll) throw Failure(operand + " does not fit a word");
                for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
            }
            break;
        case Statement::Kind::Align:
        case Statement::Kind::Space:
            bytes.assign(s.size, 0);
            break;
        }
        return bytes;
    }

    std::uint32_t origin_;
    std::vector<Statement> statements_;
    std::map<std::string, std::size_t> labels_;  // the index of the statement the label stands before
    std::map<std::string, std::string> equates_;
    Assembly result_;
    IncludeReader reader_;
    int depth_ = 0;
};

}  // namespace

std::vector<std::uint8_t> EncodeDirect(unsigned function, std::int64_t operand) {
    const std::uint32_t want = static_cast<std::uint32_t>(operand);
    std::vector<std::uint8_t> best;
    // On a tie the unsigned reading wins: addresses above 0x80000000 then read as they are.
    for (const std::int64_t reading : {static_cast<std::int64_t>(want),
                                       static_cast<std::int64_t>(static_cast<std::int32_t>(want))}) {
        std::vector<std::uint8_t> bytes = Chain(function & 0xF, reading);
        if (Decode(bytes) == want && (best.empty() || bytes.size() < best.size())) best = std::move(bytes);
    }
    if (best.empty()) throw Failure("no prefix chain gives " + std::to_string(operand));
    return best;
}

Assembly Assemble(const std::string& source, std::uint32_t origin, const IncludeReader& reader) {
    return Assembler(origin, reader).Run(source);
}

}  // namespace orbvex::st20asm
