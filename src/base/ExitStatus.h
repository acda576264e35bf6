#pragma once

// The exit statuses of the program, one definition each. What 1, 2 and 3 mean for a verb is said
// in its --help: 1 the job was not done (or, for show and diff, what was read differs or is
// damaged), 2 a person was needed without a display or the input cannot be read at all, 3 collect
// gathered some hosts but not all.
namespace ExitStatus {
inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;
inline constexpr int kTrouble = 2;
inline constexpr int kPartial = 3;
inline constexpr int kUsage = 64; // EX_USAGE: the command line cannot be read
} // namespace ExitStatus
