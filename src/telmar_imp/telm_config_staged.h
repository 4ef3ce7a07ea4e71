// The entry points of the array and logical-drive edits all take the same few steps before their
// own work: a missing data area answers at once, everything else runs under the data area's lock,
// a staged check answers for a configuration that was never staged, and an edit logs the answer of
// its check before it writes anything.
#pragma once

#include <array>
#include <type_traits>

#include "ppavl_debug.h"
#include "telm_config_internal.h"
#include "telm_private.h"

namespace telmar::staged {

// Runs `step` under the data area's lock; without a data area nothing runs and the answer is `no_cda`.
template <typename Step, typename... Args>
std::invoke_result_t<Step, PCDA, Args...>
UnderLock(PCDA cda, std::invoke_result_t<Step, PCDA, Args...> no_cda, Step step, Args... args) {
    if (cda == nullptr) {
        return no_cda;
    }
    CDALock guard(cda);
    return step(cda, args...);
}

// A check on the staged configuration: with no data area, or nothing staged in it, the check does
// not run and the answer is `nothing_staged`. The edits' checks look records up by number, so they
// take the data area and the edit's arguments rather than the configuration itself.
template <typename Check, typename... Args>
VK_BYTE StagedAnswer(PCDA cda, VK_BYTE nothing_staged, Check check, Args... args) {
    return telmar::StagedAnswer(cda, nothing_staged,
                                [&](const EDITABLE_CONFIGURATION&) { return check(cda, args...); });
}

// Transformations the controller's queue still takes beyond those already staged; negative when
// the staging has overfilled it.
inline int TransformationQueueRoom(PCDA cda) {
    return static_cast<int>(kMaxQueuedTransformations) -
           static_cast<int>(_VK_GetEditableLogicalDriveTransformationQueueCount(cda));
}

// Where an edit was called from, so that its log line names the edit and not this file.
struct EditPlace {
    const char* file;
    int line;
    const char* function;
};

namespace detail {

// The conversion an edit's log line gives an argument of type T, and the value it passes for it: a
// pointer as %p, a 64-bit count in full, a flag (the only signed argument) as %d, the rest as %u.
template <typename T> constexpr const char* Conversion() {
    if constexpr (std::is_pointer_v<T>) {
        return ", %p";
    } else if constexpr (std::is_signed_v<T>) {
        return ", %d";
    } else if constexpr (sizeof(T) > sizeof(unsigned)) {
        return ", %llu";
    } else {
        return ", %u";
    }
}

template <typename T> auto Passed(T value) {
    if constexpr (std::is_pointer_v<T>) {
        return static_cast<const void*>(value);
    } else if constexpr (std::is_signed_v<T>) {
        return static_cast<int>(value);
    } else if constexpr (sizeof(T) > sizeof(unsigned)) {
        return static_cast<unsigned long long>(value);
    } else {
        return static_cast<unsigned>(value);
    }
}

// "%s:%d: %s(%p, <one conversion an argument>):%u\n", made once for each list of argument types.
template <typename... Args> constexpr std::array<char, 96> EditLogFormat() {
    std::array<char, 96> format{};
    size_t used = 0;
    const auto put = [&](const char* text) {
        while (*text != '\0') {
            format[used++] = *text++;
        }
    };
    put("%s:%d: %s(%p");
    (put(Conversion<Args>()), ...);
    put("):%u\n");
    return format;
}

} // namespace detail

// The gate of an edit, taken with the lock already held (a missing data area holds none): false
// without a data area, else the check's answer is logged with the arguments the edit was called
// with, and the edit may go on only when that answer is `allowed`.
template <typename Check, typename... Args>
bool EditAllowed(const EditPlace& at, PCDA cda, VK_BYTE allowed, Check check, Args... args) {
    if (cda == nullptr) {
        return false;
    }
    const VK_BYTE can = check(cda, args...);
    static constexpr std::array<char, 96> kFormat = detail::EditLogFormat<Args...>();
    PN_DebugLog(3, 0, kFormat.data(), at.file, at.line, at.function, cda, detail::Passed(args)..., can);
    return can == allowed;
}

} // namespace telmar::staged
