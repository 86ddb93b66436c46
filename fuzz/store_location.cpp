// A store's location (--store, a recipe's `store`, K350_STORE) and the messages that repeat it,
// as every message and journal shows them. Two inputs in one:
// - a location made of fuzzed parts with one password placed where libpq reads one (the user
//   information, a `password` parameter, a message that quotes it): what is shown must not
//   depend on the password at all, and never holds it, plain or percent-encoded;
// - any text as a location: whatever libpq reads as the password of what is shown is the mask.
#include <fuzzer/FuzzedDataProvider.h>
#include <libpq-fe.h>

#include "fuzz/FuzzSupport.h"
#include "store/RunStore.h"
#include "store/StoreText.h"

namespace {

bool Unreserved(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

// As a URL writes a part: every other byte percent-encoded, now and then an unreserved one too.
std::string Encoded(const std::string& text, bool encodeAll) {
    static const char* digits = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        if (Unreserved(c) && !encodeAll) {
            encoded += char(c);
        } else {
            encoded += {'%', digits[c >> 4], digits[c & 15]};
        }
    }
    return encoded;
}

// Printable ASCII without `%`: the parts around the password can never spell it, since it holds
// a byte above 0x7F.
std::string Plain(FuzzedDataProvider& input, std::size_t most) {
    std::string text = input.ConsumeRandomLengthString(most);
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E || c == '%') c = char('a' + byte % 26);
    }
    return text;
}

struct Placing {
    std::string scheme, user, host, path, before, after, message;
    bool inUserInfo, encodeAll;
    std::string parameterKey;  // empty: no password parameter
    int quotes;                // how often the message repeats the password
    bool quotesEncoded;
};

Placing PlacingFrom(FuzzedDataProvider& input) {
    static const char* const keys[] = {"",           "password",  "PASSWORD",
                                       "pass%77ord", "password ", "Password"};
    Placing placing;
    placing.scheme = input.ConsumeBool() ? "postgresql://" : "postgres://";
    placing.inUserInfo = input.ConsumeBool();
    placing.encodeAll = input.ConsumeBool();
    placing.parameterKey = keys[input.ConsumeIntegralInRange<int>(0, 5)];
    placing.quotes = input.ConsumeIntegralInRange<int>(0, 2);
    placing.quotesEncoded = input.ConsumeBool();
    placing.user = Encoded(Plain(input, 12), false);
    placing.host = Plain(input, 20);
    placing.path = Plain(input, 20);
    placing.before = Plain(input, 30);
    placing.after = Plain(input, 30);
    placing.message = Plain(input, 40);
    return placing;
}

std::string LocationWith(const Placing& placing, const std::string& password) {
    std::string location = placing.scheme + placing.user;
    if (placing.inUserInfo) location += ":" + Encoded(password, placing.encodeAll);
    location += "@" + placing.host + "/" + placing.path + "?" + placing.before;
    if (!placing.parameterKey.empty()) {
        location += "&" + placing.parameterKey + "=" + Encoded(password, placing.encodeAll);
    }
    return location + "&" + placing.after;
}

std::string MessageWith(const Placing& placing, const std::string& password) {
    const std::string location = LocationWith(placing, password);
    std::string message = "connection to " + location + " failed: " + placing.message;
    for (int i = 0; i < placing.quotes; ++i) {
        message += " \"" +
                   (placing.quotesEncoded ? Encoded(password, placing.encodeAll) : password) + "\"";
    }
    return StoreMessage(message, location);
}

bool Holds(const std::string& text, const std::string& password, bool encodeAll) {
    return text.find(password) != std::string::npos ||
           text.find(Encoded(password, encodeAll)) != std::string::npos;
}

void CheckPlacedPassword(FuzzedDataProvider& input) {
    const Placing placing = PlacingFrom(input);
    std::string password = input.ConsumeRandomLengthString(24);
    password += char(0x80 | input.ConsumeIntegral<std::uint8_t>());
    if (!placing.inUserInfo && placing.parameterKey.empty()) return;
    const std::string other = "\xC3\xA9t\xC3\xA9";
    const std::string shown = ShownLocation(LocationWith(placing, password));
    FUZZ_REQUIRE(!Holds(shown, password, placing.encodeAll), "the shown location hides it");
    FUZZ_REQUIRE(shown == ShownLocation(LocationWith(placing, other)),
                 "the shown location says nothing of the password");
    const std::string message = MessageWith(placing, password);
    FUZZ_REQUIRE(!Holds(message, password, placing.encodeAll), "the message hides it");
    FUZZ_REQUIRE(message == MessageWith(placing, other),
                 "the message says nothing of the password");
}

// What libpq takes for the password of a location; empty when it reads none.
std::string LibpqPassword(const std::string& location) {
    PQconninfoOption* options = PQconninfoParse(location.c_str(), nullptr);
    if (!options) return {};
    std::string password;
    for (PQconninfoOption* option = options; option->keyword; ++option) {
        if (std::string(option->keyword) == "password" && option->val) password = option->val;
    }
    PQconninfoFree(options);
    return password;
}

void CheckAnyLocation(const std::string& location) {
    const std::string shown = ShownLocation(location);
    if (IsPostgresLocation(location)) {
        const std::string read = LibpqPassword(shown);
        FUZZ_REQUIRE(read.empty() || read.find_first_not_of('*') == std::string::npos,
                     "libpq reads no password from the shown location but the mask");
    }
    const std::string message = StoreMessage("store " + location + ": failed", location);
    FUZZ_REQUIRE(message.find('\n') == std::string::npos, "a message stays on one line");
    Quoted(location);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (data[0] % 2 == 0) {
        FuzzedDataProvider input(data + 1, size - 1);
        CheckPlacedPassword(input);
    } else {
        CheckAnyLocation(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    }
    return 0;
}
