#pragma once
// Random argument vectors for installer.exe: a command line that one action accepts, with its
// optional switches at random and in any order, then edited; or arguments at random. The
// command-line test and the command-line campaign share how a vector is put together; each
// draws its own values (the test texts its model of the rules can judge, the campaign hostile
// ones) and its own random numbers.
#include <cstddef>
#include <cwctype>
#include <string>
#include <utility>
#include <vector>

class ArgumentVectorGenerator {
public:
    virtual ~ArgumentVectorGenerator() = default;

protected:
    virtual int Pick(int bound) = 0;   // 0 .. bound - 1
    virtual std::wstring AnyArgument() = 0;
    virtual std::wstring Value() = 0;
    virtual std::wstring Junk() = 0;
    // The value a template gives the optional switch ("sd1", "sd2", "l"); false leaves it out.
    virtual bool OptionalValue(const wchar_t* name, std::wstring& value) = 0;

    bool Chance(int oneIn) { return Pick(oneIn) == 0; }

    // "-" or "/" and the name, each letter in either case.
    std::wstring Switch(const std::wstring& name) {
        std::wstring text(1, Chance(3) ? L'/' : L'-');
        for (wchar_t c : name) text.push_back(Chance(3) ? static_cast<wchar_t>(std::towupper(c)) : c);
        return text;
    }

    // The switch with its value attached (":" or "=") or as the next argument.
    void AppendPair(std::vector<std::wstring>& arguments, const wchar_t* name, const std::wstring& value) {
        if (Chance(5)) {
            arguments.push_back(Switch(name) + (Chance(2) ? L":" : L"=") + value);
        } else {
            arguments.push_back(Switch(name));
            arguments.push_back(value);
        }
    }

    // A command line of one of `actions` (nullptr: none) for `document`, with the directories
    // the action needs and its optional switches at random.
    void AppendTemplate(std::vector<std::wstring>& arguments, const std::vector<const wchar_t*>& actions,
                        const std::wstring& document) {
        const wchar_t* action = actions[static_cast<size_t>(Pick(static_cast<int>(actions.size())))];
        const std::wstring act = action != nullptr ? action : L"";
        if (action != nullptr) arguments.push_back(Switch(action));
        AppendPair(arguments, L"x", document);
        if (act == L"i" || act == L"r" || act == L"vi") AppendPair(arguments, L"d", L"C:\\Inst");
        if (act == L"i" || act == L"r" || act == L"vi" || act == L"iu") AppendPair(arguments, L"c", L"C:\\Content");
        std::wstring value;
        if (action != nullptr && act != L"u") {
            for (const wchar_t* name : { L"sd1", L"sd2" }) {
                if (OptionalValue(name, value)) AppendPair(arguments, name, value);
            }
        }
        if (Chance(2)) AppendPair(arguments, L"s", L"cfg.xml");
        if (Chance(3)) AppendPair(arguments, L"q", L"C:\\Q");
        if (OptionalValue(L"l", value)) AppendPair(arguments, L"l", value);
        if (Chance(3)) arguments.push_back(Switch(L"w"));
        // Order on the command line does not matter.
        for (size_t i = arguments.size() - 1; i > 1; --i) {
            if (Chance(4)) std::swap(arguments[i], arguments[1 + static_cast<size_t>(Pick(static_cast<int>(i)))]);
        }
    }

    // One edit after the program name: an argument inserted, removed, repeated, replaced by a
    // value or (with `kinds` 5) given junk at its end.
    void Edit(std::vector<std::wstring>& arguments, int kinds) {
        const int size = static_cast<int>(arguments.size());
        const int kind = Pick(kinds);
        if (kind == 0) {
            arguments.insert(arguments.begin() + 1 + Pick(size), AnyArgument());
            return;
        }
        if (size <= 1) return;
        const size_t at = static_cast<size_t>(1 + Pick(size - 1));
        switch (kind) {
        case 1: arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(at)); break;
        case 2: arguments.push_back(arguments[at]); break;
        case 3: arguments[at] = Value(); break;
        default: arguments[at] += Junk(); break;
        }
    }
};
