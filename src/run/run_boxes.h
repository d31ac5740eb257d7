// Captions and texts of the boxes the check-and-repair run shows: the
// all-clear report and the two pairs of repair confirmations. They are the
// program's own wording, typing slips included, and are shown exactly as
// written: line breaks and leading blanks matter.
#pragma once

constexpr const char* ALL_CLEAR_CAPTION = "  Pellora Hard Drive partition was found OK ! ";
constexpr const char* ALL_CLEAR_TEXT =
    "You may try to run Windows Scandisk to fix the file structure\n"
    "if you experience problems reading or writing to the drive.\n";

// Damaged disk: D1 then D2.
constexpr const char* DAMAGED_CAPTION = "  ERROR: Hard Drive file structure is damaged ! ";
constexpr const char* DAMAGED_TEXT =
    "\nTessaly will now attempt to fix the file structure\n"
    "of the Pellora the hard disk. However, depending on\n"
    "the type and extend of damage, this operation may\n"
    "may not succeed.\n\n"
    "Do you want to proceed ?";
constexpr const char* ABOUT_TO_REPAIR_CAPTION = "  About to repair the Pellora Hard Disk !  ";
constexpr const char* ABOUT_TO_REPAIR_TEXT =
    "\nAfter this operation, you must reboot your PC\n"
    "and preferably run Scandisk (standard scan).\n\n"
    "Are you sure that you want to proceed ?";

// Removable disk: R1 then R2 (R2 shares D1's caption).
constexpr const char* REMOVABLE_CAPTION = "  ERROR: Hard Disk is removable ! ";
constexpr const char* REMOVABLE_TEXT =
    "The Hard Disk is formatted as removable.\n"
    "The Pellora Tervan will not recognize it.\n"
    "If you have a Pellora Kessin, you may\n"
    "leave it removable, as it is.\n\n"
    "Tessaly will repartition the disk. The structure\n"
    "on the hard disk will be severely altered and you\n"
    "may not be able to recover the data afterwards.\n\n"
    "Do you want to proceed ?";
constexpr const char* NOT_REMOVABLE_TEXT =
    "\nMake sure that the drive is NOT marked removable:\n"
    "   - goto Control_Panel->System->Disk_Drives\n"
    "   - select the Pellora_Drive->Settings and\n"
    "   - untick Removable.\n\n"
    "After this operation, you must reboot your PC\n"
    "and run Scandisk.\n\n"
    "Do you want to proceed ?";
