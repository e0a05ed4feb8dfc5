#include "tools/check/status_texts.h"

const StatusTexts kStatusTextsEnglish = {
    "No tarvokey.fsk is open. Start MMTTY with TARVOKEY as its port for PTT & FSK\n"
    "(Option > Setup MMTTY, TX tab); it shows here once MMTTY has opened it.\n",

    "%s, pid %u: tarvokey.fsk %u.%u.%u.%u, open for %s\n",
    "  box       linked: %s, generation %d (VID %04X, PID %04X)\n",
    "  box       refused: %s, generation %d (VID %04X, PID %04X)\n",
    "  box       looking: %s, generation %d (VID %04X, PID %04X), lost\n",
    "  box       looking: none found yet\n",
    "  reports   written %u, failed %u; discoveries %u, link drops %u\n",
    "  keying    PTT %s, keying %s; characters %u, PTT changes %u\n",
    "on",
    "off",
    "armed",
    "not armed",
    "  settings  FskRev=%d FskPin=%d, from %s\n",
    "  settings  FskRev=%d FskPin=%d, asked, not written\n",
    "  settings  not read yet\n",
    "  timer     1 ms %s; throttling opt-out %s\n",
    "granted",
    "NOT granted",
    {"not asked", "on", "not available on this Windows (fine)", "failed (error %u)"},
    "  timing    ticks %llu, late by %.2f ms median, %.2f ms p99, %.2f ms at most\n",
    "  timing    no tick yet\n",
    "            character period %.2f ms (%.0f nominal), from %u pairs\n",
    "  last failure  %s: error %u, %s ago\n",
    "%u s",
    "%u min %u s",
    "%u h %u min",

    "What to do:\n",
    "All in order: nothing to do.\n",
    "%s, pid %u: ",
    u8"clock stopped: no tick for %.0f s, so nothing reaches the box — restart MMTTY",
    "box lost: plug it in",
    "no box: plug it in; if it is, run tarvokey-check, which says what holds it",
    "box refused (generation %d): run tarvokey-check, which says why and what to do",
    u8"1 ms timer not granted: elements will be late — see the guide",
    "Windows refused to keep the 1 ms timer for a minimised MMTTY (error %u): keep MMTTY's "
    "window open while sending",
    u8"timing poor: elements up to %.0f ms late — is MMTTY minimised on Windows 11? see the guide",
    u8"timing poor: characters take %.1f ms, not %.0f — is MMTTY minimised on Windows 11? see the "
    u8"guide",
    "settings not saved: tarvokey.ini could not be written, so the questions come again at the "
    u8"next open — see the guide on where it lands",
    "a setup question was cancelled, so its default keys for now: run tarvokey-check --setup",
    "pid %u: %s",

    {
        "",
        "its status section is too small (%llu bytes)",
        "its status section is not aligned",
        "its status is not written yet: try again in a moment",
        "its status section is not a tarvokey.fsk status (it begins 0x%08llX)",
        "its status is of version %llu and this tarvokey-check reads version %llu: use the "
        "tarvokey-check that came with that tarvokey.fsk",
        "its status says it has %llu bytes, not %llu",
        "its status section has %llu bytes of %llu",
        "its status kept changing while read (%llu tries): try again",
        "its status holds %llu in %s, which no tarvokey.fsk writes",
        "its status has a broken text in %s",
        "its status names process %llu, not %llu: another program made it",
        "it has closed",
    },
};
