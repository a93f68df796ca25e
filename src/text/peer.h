// The texts and formats of what fare-peer prints: plain ASCII, for the
// people who try the settlement program out and for scripts that read its
// output. Command and argument names and system error texts are filled in
// by the commands.
#pragma once

inline constexpr char peerUsage[] =
    "usage: fare-peer [--exchange DIR] COMMAND [ARGS]\n"
    "  init DIR                    make a ready exchange directory\n"
    "  date [TEXT]                 write TEXT (default today, YYYYMMDD) into Time.txt\n"
    "  tap CARRIER AMOUNT [CARD]   append one fare record to Accumulated.txt\n"
    "  generate N [--seed S] [--mix table|any] [--print-sums]\n"
    "                              append N realistic fare records\n"
    "  request                     ask for a settlement\n"
    "  wait [--timeout SECONDS]    wait for it and show the ledger lines it added\n"
    "  ledgers                     show the ledgers as one table and check them\n"
    "  check [--list] [FILE]       what a settlement would make of FILE (default\n"
    "                              Accumulated.txt) now, and what would garble it\n"
    "  status                      whether a settlement program serves DIR, the\n"
    "                              trigger and success files, the last ledger line\n"
    "DIR defaults to ../.., the directory fare-settle watches from here.\n";

// Printed after "fare-peer: " on standard error; the exit status is 2 for
// bad input and 1 for a failure of the files or a time-out.
inline constexpr char peerNoCommand[] = "no command given; try 'fare-peer --help'";
inline constexpr char peerUnknownCommand[] = "unknown command '%s'; try 'fare-peer --help'";
inline constexpr char peerUnknownOption[] = "%s: unknown option '%s'";
inline constexpr char peerMissing[] = "%s: missing %s";
inline constexpr char peerTooMany[] = "%s: unexpected argument '%s'";
inline constexpr char peerNotNumber[] = "%s: %s '%s' is not a whole number%s";
inline constexpr char peerBadToken[] = "%s: %s '%s' must be 1 to %d bytes with no white space";
inline constexpr char peerBadMix[] = "generate: --mix must be 'table' or 'any', not '%s'";
inline constexpr char peerBadDir[] = "cannot use exchange directory '%s': %s";
inline constexpr char peerWriteFailed[] = "cannot write %s: %s";
inline constexpr char peerReadFailed[] = "cannot read %s: %s";
inline constexpr char peerTimedOut[] =
    "no settlement within %s s: AccountSuccess.txt never said 1 (AccountTrigger.txt holds "
    "'%s'); is fare-settle running in %s/run/settle?";

// Standard output.
inline constexpr char peerInitDone[] =
    "exchange directory ready: %s\n"
    "start the settlement program there:\n"
    "  cd %s/run/settle && luit -encoding EUC-KR -- %s\n"
    "request a settlement and see its ledger lines, from anywhere:\n"
    "  %s --exchange %s request && %s --exchange %s wait\n";
inline constexpr char peerDateDone[] = "date: %s\n";
inline constexpr char peerTapDone[] = "appended: %s";
inline constexpr char peerTapUnknown[] =
    "note: carrier '%s' is neither BUS nor METRO; its amount counts toward the total only\n";
inline constexpr char peerProgress[] = "\rgenerated %lld of %lld records (%d%%)";
inline constexpr char peerGenerated[] = "appended %lld records\n";
inline constexpr char peerSums[] = "records %lld total %lld bus %lld metro %lld\n";
inline constexpr char peerRequested[] = "settlement requested\n";
inline constexpr char peerSettled[] = "settled:\n";
inline constexpr char peerLedgerLine[] = "  %-17s %s\n";
inline constexpr char peerLedgerEmpty[] = "  %-17s (no line)\n";
inline constexpr char peerTableHead[] = "%5s  %-8s %15s %15s %15s\n";
inline constexpr char peerTableRow[] = "%5zu  %-8s %15lld %15lld %15lld\n";
inline constexpr char peerTableSum[] = "%5s  %-8s %15lld %15lld %15lld\n";
inline constexpr char peerNoLedgers[] = "no settlement recorded yet\n";
inline constexpr char peerAgree[] = "the three ledgers agree\n";
inline constexpr char peerDisagree[] = "DISAGREE: %s\n";

// fare-peer status.
inline constexpr char peerStatusServed[] = "settlement program: serving %s\n";
inline constexpr char peerStatusFree[] = "settlement program: NONE serves %s\n";
inline constexpr char peerStatusUnknown[] = "settlement program: cannot tell (%s cannot be locked here)\n";
inline constexpr char peerStatusFile[] = "%-19s %s\n";
inline constexpr char peerStatusMissing[] = "(missing)";
inline constexpr char peerStatusNoLine[] = "(no settlement recorded)";

// fare-peer check.
inline constexpr char peerCheckHead[] = "%s: %lld records in %lld bytes\n";
inline constexpr char peerCheckSums[] = "a settlement now: total %lld, bus %lld, metro %lld\n";
inline constexpr char peerCheckUndivided[] =
    "not divided: %lld of the total (carrier not BUS or METRO %lld, amount not in the fare table %lld, "
    "amount outside 32 bits %lld)\n";
inline constexpr char peerCheckOutOfStep[] =
    "out of step from record %lld (line %lld, byte %lld): amount '%s'; %lld records read out of step after it\n";
inline constexpr char peerCheckStepAgain[] =
    "  step changes again at record %lld (line %lld, byte %lld): amount '%s'; now %d tokens out of step\n";
inline constexpr char peerCheckMorePlaces[] = "  and %lld more places where the step changes (see --list)\n";
inline constexpr char peerCheckFirst[] = "%lld %s, the first in record %lld (line %lld, byte %lld): '%s'\n";
inline constexpr char peerCheckLeftOver[] = "%s left over at the end (line %lld, byte %lld): a half-written record\n";
inline constexpr char peerCheckClean[] = "the file would settle cleanly\n";
inline constexpr char peerCheckGarbled[] = "the file has findings: a settlement now would not be what its records mean\n";
// --list: byte offset, line, record, kind, token.
inline constexpr char peerCheckListLine[] = "%lld\t%lld\t%lld\t%s\t%s\n";
