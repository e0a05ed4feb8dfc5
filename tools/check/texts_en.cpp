#include "tools/check/texts.h"

const Texts kTextsEnglish = {
    // ---- the program
    "tarvokey-check %d.%d.%d.%d, for tarvokey.fsk of the same version\n",
    "Usage: tarvokey-check [--setup]\n"
    "       tarvokey-check --key [seconds] [--yes]\n"
    "       tarvokey-check --watch\n"
    "       tarvokey-check --status [--json]\n"
    "       tarvokey-check --boxes | --choose N\n"
    "       tarvokey-check --help | --version\n"
    "Any of them may add --lang ja or --lang en.\n"
    "\n"
    "Checks the TARVOKEY box and tarvokey.fsk's settings on this PC with the\n"
    "plug-in's own code. Run it in the folder of MMTTY.EXE: tarvokey.fsk reads\n"
    "tarvokey.ini from there.\n"
    "\n"
    "  (no option)      look for the box as tarvokey.fsk does and print its trace,\n"
    "                   whether the box is accepted, and the settings in force;\n"
    "                   nothing is asked and no file is written\n"
    "  --setup          the same, and ask tarvokey.fsk's questions that\n"
    "                   tarvokey.ini does not answer, then write it, as MMTTY's\n"
    "                   open of the plug-in does\n"
    "  --key [seconds]  key the transmitter: PTT on, RYRY at 45.45 baud for the\n"
    "                   seconds given (10 if none, at most 60), PTT off; then the\n"
    "                   timing of every element the box received. Ctrl-C stops\n"
    "                   it and releases the lines\n"
    "  --yes            with --key: key without asking first\n"
    "  --watch          show tarvokey.fsk at work in every program that has it\n"
    "                   open (MMTTY), twice a second, until Enter or Ctrl-C;\n"
    "                   then what to do about what it saw. It opens no device\n"
    "                   and leaves the plug-in alone\n"
    "  --status         the same, once; with --json as one JSON document\n"
    "                   (the guide names its fields)\n"
    "  --boxes          list every TARVOKEY box attached: its key, generation,\n"
    "                   USB port and the program that keys it; nothing is\n"
    "                   claimed or written\n"
    "  --choose N       make this folder's tarvokey.ini choose box N of that list\n"
    "                   (FskBox): MMTTY started from here keys that box only\n"
    "  --lang ja|en     messages in Japanese or English (by default in the\n"
    "                   language of Windows)\n"
    "\n"
    "Exit status: 0 box accepted, 1 no box (or another program keys it), 2 box\n"
    "refused, 3 bad argument (or --key not confirmed). With --watch and --status:\n"
    "0 when a program has tarvokey.fsk open, 1 when none has; with --boxes and\n"
    "--choose: 0 done, 1 no such box (or the file not written).\n",
    "tarvokey-check: %s (see --help).\n",
    "--yes is given twice",
    "--key takes a whole number of seconds from 1 to %d, not \"%s\"",
    "unknown argument \"%s\"",
    "give one of --setup, --key, --watch, --status, --boxes, --choose, --help and --version",
    "--yes goes with --key only",
    "--json goes with --status only",
    "--lang takes ja or en, not \"%s\"",
    "Press Enter to close.\n",
    "Asking what tarvokey.ini leaves open and writing it, as MMTTY's open does.\n",
    "error %u",

    // ---- the box
    "Looking for the box as tarvokey.fsk does when it opens (its trace):\n",
    "HID devices looked at, in the order the system lists them:\n",
    "  none\n",
    "vendor ID 0x%04X, product ID 0x%04X",
    "not opened (%s)",
    "  %d. %s\n     %s\n",
    "passed over, not opened: not the box FskBox chooses",
    "The plug-in could not be opened: no memory.\n",
    "No box: no HID device has the box's vendor ID 0x%04X and product ID 0x%04X.\n",
    "Box found and refused: %s.\n",
    "Box found and accepted.\n",
    "  generation     %d (%s)\n",
    "digits '%d' and '%d' at positions %d and %d of the product",
    "no digits at positions %d and %d of the product; the manufacturer begins with J",
    "no digits at positions %d and %d of the product; the manufacturer does not begin with J",
    "  product        %s\n",
    "  manufacturer   %s\n",
    "  identifiers    vendor ID 0x%04X, product ID 0x%04X\n",
    "  report length  %u bytes\n",
    "  WARNING        a report of %u bytes has no room for the line byte (the third): the box "
    "cannot be keyed\n",
    "  device path\n    %s\n",
    "product ID 0x%04X is not the box's 0x%04X (the vendor ID is)",
    "a device named as the box did not give its identifiers",
    "a device named as the box could not be opened (%s)",
    "generation %d is not one tarvokey.fsk takes (1 to 98)",
    "no memory for its output report",
    "No memory to open the plug-in.",
    "Box accepted: tarvokey.fsk can key it.",
    "Box refused: %s.",
    "No box found: is it plugged in?",

    u8"Next, in MMTTY: Option → Setup MMTTY..., TX tab, PTT & FSK group: choose\n"
    u8"tarvokey in the port list and leave Invert Logic off; Misc tab, Tx Port:\n"
    u8"COM-TxD(FSK). With MMTTY running, tarvokey-check --watch then shows the\n"
    u8"plug-in at work.\n",
    "Next: plug the box in, straight into the PC (no hub), and try another cable or\n"
    "USB port. Close any other program that may hold the box (MMTTY, a logging or\n"
    "keying program). In Device Manager, under Human Interface Devices, the box\n"
    "must show without a warning sign; if it shows one, unplug it and plug it in\n"
    "again.\n",
    "Next: generation 0 is a box whose product string reads version 0.0, which no\n"
    "TARVOKEY firmware gives: ask the box's maker for its firmware, quoting the\n"
    "product string above.\n",
    "Next: generation 99 is a box whose product string names version 9.9, or has no\n"
    "version digits and comes from another maker; a box whose strings cannot be read\n"
    "at all reads 99 too. Unplug the box, plug it in again (straight into the PC)\n"
    "and run tarvokey-check again; if it stays 99, ask for help with this output\n"
    "(see the guide).\n",
    "Next: this device is another product of the box's maker, not the TARVOKEY box:\n"
    "plug in the box itself.\n",
    "Next: another program holds the box. Close MMTTY and any logging or keying\n"
    "program, then run tarvokey-check again. If it still cannot be opened, unplug\n"
    "the box, plug it in again and look in Device Manager (Human Interface Devices).\n",
    "Next: close some programs and run tarvokey-check again.\n",

    "Timer: kept at 1 ms while MMTTY is minimised, as tarvokey.fsk asks Windows.\n",
    "Timer: keeping it at 1 ms while MMTTY is minimised is not available on this\n"
    "  Windows (fine: only Windows 11 needs it).\n",
    "Timer: Windows refused to keep it at 1 ms while MMTTY is minimised (%s):\n"
    "  keep MMTTY's window open while sending.\n",

    // ---- the settings
    "Settings in force, from %s:\n",
    "Settings in force, from tarvokey.ini in the folder of this program\n"
    "  (there is no %s):\n",
    "Settings: there is no %s (or it cannot be read).\n",
    "  polarity  %s (%s)\n",
    "reverse: the FSK line is open for mark, shorted for space",
    "normal: the FSK line is shorted for mark, open for space",
    "  FSK pin   %s (%s)\n",
    "pin 3, as for the TARVOKEY Gen.3",
    "pin 1, as for the TARVOKEY",
    "%s not set",
    "  tarvokey.fsk will not ask at the next open.\n",
    "  At the next open tarvokey.fsk asks %s\n"
    "  and writes the answers to the file; tarvokey-check --setup asks now.\n",
    "both questions (polarity, then pin)",
    "the polarity question",
    "the pin question",
    "  Not taken from the file as written:\n",
    "    line %u: \"%s\"\n",
    "      %s\n",
    {
        "%s must be followed at once by \"=\" and the number, with no spaces around \"=\"",
        "%s must be followed at once by \"=\" and a whole number",
        "%s takes no such value (FskRev: 0 or 1, FskPin: 1 or 3, -1 to be asked): the "
        "plug-in keys as with 0 for FskRev and 1 for FskPin, and does not ask",
        "a byte-order mark before %s (the file was saved as UTF-8 with BOM): save it as "
        "ANSI, or delete the file to be asked again",
        "%s is in UTF-16 (the file was saved as UTF-16 LE, which older Notepads call Unicode): "
        "save it as ANSI, or delete the file to be asked again",
        "the key is spelled %s, in this case exactly",
        "%s is glued to more than 255 characters with no space: end the value with a space "
        "or a line break",
        "full-width characters (%s), as the Japanese IME types them: write them half-width",
        "a full-width space, as the Japanese IME types it: delete it",
        "there is no key %s: if it is meant as %s, spell it so",
        "the key is spelled %s, in this case exactly, followed at once by \"=\" and the number, "
        "with no spaces around \"=\"",
        "%s takes the box's key right after \"=\": 16 hex digits (0-9, a-f), as tarvokey-check "
        "--boxes shows them; until then tarvokey.fsk keys no box",
        "a second %s names another box: tarvokey.fsk keys no box until one box is named",
    },
    ", ",
    "%s is given again (first on line %u): tarvokey.fsk keys %s now, writes %s back to the "
    "file, and so keys %s from the next open. Leave one line of it",
    "as the question it then asks is answered",
    "  box       %s\n",
    "the first TARVOKEY Windows lists (no FskBox)",
    "only the box whose key is %s (FskBox)",
    "none: FskBox names no box (see below)",

    // ---- --key
    " Nothing was keyed.\n",
    "This keys the transmitter: PTT on and RYRY for %d s. Key it now? (yes/no) ",
    "Keying for %d s. Ctrl-C stops it at once and releases the lines.\n",
    "Not keyed: the question was not answered yes (--yes skips it).\n",
    "Keyed for %.1f s: PTT on, LTRS and RYRY (%d characters) at 45.45 baud, PTT off.\n",
    "Stopped by %s after %.1f s of keying.\n",
    {"", "Ctrl-C", "Ctrl-Break", "closing the console window", "the end of the Windows session"},
    "The box stopped taking reports after %.1f s of keying: was it unplugged?\n"
    "  The write failed with %s\n",
    "PTT and FSK released: the last report to the box was 00 01 0F.\n",
    "No release report (00 01 0F) could be written: the box is gone or refuses writes.\n",
    "Result: this PC keys the box on time.\n",
    "Result: this PC does NOT key the box on time (see above).\n",
    "Result: keying stopped by the operator; the lines are released.\n",
    "Result: keying stopped by the operator.\n",
    "Result: the box was lost while keying.\n",
    "Next: close other programs that keep the PC busy and run it again; on\n"
    "Windows 11 keep this window in sight while it keys. The guide's troubleshooting\n"
    "says more.\n",
    "Next: plug the box in again, straight into the PC, and check the cable; then\n"
    "run tarvokey-check again.\n",

    "No character was sent whole, so there is no timing to show.\n",
    "Timing on this PC: not measured.\n",
    "element length at the box, error against nominal (ms):\n",
    "  element    count   median     p99     max\n",
    {"start", "data", "stop", "all"},
    "character period: not measured, no two characters went back to back\n",
    "Timing on this PC: too few characters to judge.\n",
    "character period: mean %.2f ms over %d back-to-back characters (%u nominal, %+.2f%%)\n",
    "baud rate: %.2f from the mean character period (%.2f nominal)\n",
    {"median element error <= 1 ms", "p99 element error <= 3 ms",
     "mean character period within 1% of 165 ms"},
    "  met   %s\n",
    "  MISS  %s\n",
    "Timing on this PC: within the benchmark's targets.\n",
    "Timing on this PC: NOT within the benchmark's targets.\n",

    // ---- --watch and --status
    "tarvokey.fsk at work, twice a second; Enter or Ctrl-C ends.\n",
    "As the watch ended:\n",

    {
        u8"No program has tarvokey.fsk open. Start MMTTY with tarvokey as the port of\n"
        u8"its PTT & FSK group (Option → Setup MMTTY..., TX tab): it shows here as soon\n"
        u8"as MMTTY has opened it.\n",

        "%s: tarvokey.fsk %u.%u.%u.%u, open for %s\n",
        "  box       linked: %s, generation %d (vendor ID 0x%04X, product ID 0x%04X)\n",
        "  box       refused: %s, generation %d (vendor ID 0x%04X, product ID 0x%04X)\n",
        "  box       looking: %s, generation %d (vendor ID 0x%04X, product ID 0x%04X), lost\n",
        "  box       looking: none found yet\n",
        "  reports   written %u, failed %u; discoveries %u, link drops %u\n",
        "  keying    PTT %s, keying %s; characters to the box %u, PTT changes %u\n",
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
        "%s: ",
        u8"clock stopped: no tick for %.0f s, so nothing reaches the box — restart MMTTY",
        "box lost: plug it in",
        "no box: plug it in; if it is, run tarvokey-check, which says what holds it",
        "box refused (generation %d): run tarvokey-check, which says why and what to do",
        u8"1 ms timer not granted: elements will be late — see the guide",
        "Windows refused to keep the 1 ms timer for a minimised MMTTY (error %u): keep MMTTY's "
        "window open while sending",
        u8"timing poor %s: elements late by %.1f ms median, %.1f ms at the 99th percentile "
        u8"(targets 1 and 3 ms) — %s",
        u8"character period off %s: characters take %.1f ms, not %.0f — %s",
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

        "            last %s: ticks %llu, late by %.2f ms median, %.2f ms p99\n",
        "in the last %s",
        "since the open",
        "is MMTTY minimised on Windows 11? see the guide",
        "close programs that keep this PC busy; see the guide",
        "has tarvokey.fsk open, but runs as administrator (or as another user), so its status "
        "cannot be read from here",
        "to watch it, run tarvokey-check in a Command Prompt opened with \"Run as administrator\"",

        "  box       in use by %s (vendor ID 0x%04X, product ID 0x%04X): nothing is written to "
        "it\n",
        "box in use by %s: give a receive-only MMTTY window its own folder with its port set to "
        "NONE, or close the other program",
        "%s, pid %u, writes to the same box: close one of them, or give the receive-only one its "
        "own MMTTY folder with its port set to NONE",
        "a program run as administrator, or another user's",
        "another program",
        "another program (an object of another kind has the box's claim name)",

        "%s (pid %u)",
        "%s (pid %u, folder %s)",
        "the MMTTY folder",

        "  chosen    box %s (FskBox in tarvokey.ini)\n",
        "  box       looking: the chosen box is not plugged in\n",
        "  box       none keyed: FskBox in tarvokey.ini names no box\n",
        "  claim     none (error %u): nobody held the box, and this program may not make its "
        "claim\n",
        "            lost %u: sent while no box was linked, they never reached one\n",
        "FskBox in tarvokey.ini names no box, so nothing is keyed: run tarvokey-check in %s, which "
        "says what is wrong; tarvokey-check --boxes and --choose N there write it right",
        "chosen box not present: plug in the box whose key is %s (its key can change with the USB "
        "port), or run tarvokey-check --boxes in %s to see the keys of the boxes attached",
        "box in use by %s, and more than one box is attached: if %s is for another radio, run "
        "tarvokey-check --boxes there and choose that radio's box with --choose N",
        "keys the box without its claim (this program may not make one), so another program could "
        "key it too: start MMTTY as usual, not from a sandbox",
        "%u characters MMTTY sent never reached the box (none was linked then), so they were not "
        "on the air",
    },

    // ---- a box another program holds
    "Box found, in use by %s.\n"
    "  One program at a time keys a box: tarvokey.fsk writes nothing to it until\n"
    "  that program lets it go, and takes it within a bit time after.\n",
    "Box in use by %s.",
    u8"Next: if the other program is a second MMTTY window (a logger's second decoder\n"
    u8"window, a receive-only copy), give that window an MMTTY folder of its own with\n"
    u8"the port of its PTT & FSK group set to NONE (Option → Setup MMTTY..., TX tab);\n"
    u8"the guide shows how. Otherwise close the other program when it is done.\n",
    "Next: more than one box is attached. tarvokey-check --boxes shows which program keys "
    "each; if this MMTTY folder is for another radio, choose that radio's box here with "
    "tarvokey-check --choose N (the guide's section on two radios shows how).\n",

    // ---- the box tarvokey.ini chooses
    "The box this folder chooses is not attached: no HID device has the key %s "
    "(FskBox in tarvokey.ini).\n",
    "No box is looked for: FskBox in tarvokey.ini names no box (see the settings below).\n",
    "Chosen box not attached (FskBox=%s).",
    "No box keyed: FskBox in tarvokey.ini names no box.",
    "Next: plug in this folder's box, in the USB port it was chosen in (the key can change "
    "with the port). tarvokey-check --boxes lists the boxes attached with their keys; "
    "tarvokey-check --choose N chooses one of them for this folder.\n",
    "Next: tarvokey-check --boxes lists the boxes attached; tarvokey-check --choose N writes "
    "FskBox for one of them into this folder's tarvokey.ini. Without an FskBox line the "
    "first box Windows lists is keyed.\n",
    "--choose takes the number of a box, as tarvokey-check --boxes lists it, not \"%s\"",
    "TARVOKEY boxes attached, in the order Windows lists them (nothing is written to them):\n",
    "  none: no HID device has the box's vendor ID 0x%04X and product ID 0x%04X\n",
    "  %d. key %s: %s\n",
    "generation %d, accepted",
    "generation %d, refused",
    "     product     %s\n",
    "     plugged in  %s\n",
    "Windows does not say",
    "     keyed by    %s\n",
    "     device path\n       %s\n",
    "a program that does not say which (run as administrator, or an older tarvokey.fsk)",
    "no program",
    "This folder's %s: %s.\n",
    "chooses box %d (FskBox=%s)",
    "chooses a box that is not attached (FskBox=%s)",
    "no FskBox, so the first box Windows lists is keyed (box 1)",
    "its FskBox names no box, so none is keyed",
    "Next: in each MMTTY folder, run tarvokey-check --choose N with N the box of that "
    "folder's radio; tarvokey-check --key then keys that box, which shows which radio it "
    "is.\n",
    "There is no box %d: %d attached (tarvokey-check --boxes lists them).\n",
    "Could not read %s (%s): nothing was changed.\n",
    "%s is saved in UTF-16: open it in Notepad and save it as ANSI first; nothing was "
    "changed.\n",
    "Could not write %s (%s).\n",
    u8"Wrote %s to %s: MMTTY started from this folder keys box %d and no other, from its "
    u8"next open of the plug-in (restart MMTTY, or Program → Suspend, then Resume).\n",
};
