#include "app/commands.h"

#include "app/preferences.h"
#include "runtime/environment.h"
#include "runtime/strings.h"

const char16_t* BuildParameterLine() {
    RuntimeString line;
    for (int64_t i = 0, n = ParameterCount(); i < n; ++i) {
        if (!line.Append(NextParameter()) || !line.Append(u" ")) break;
    }
    return TrimRight(line.Text());
}

bool IsSilentStart(const char16_t* parameterLine) {
    return StringEquals(LowerCase(parameterLine), u"/silent") != 0;
}

int64_t SpeedFromEntry(const char16_t* text) {
    int64_t speed = StringToInteger(text);
    return speed < kMinimumBeeptime ? kMinimumBeeptime : speed;
}

int64_t Switched(int64_t value) {
    return value != 0 ? 0 : 1;
}
