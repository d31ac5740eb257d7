// What the FAT repair would do for the files, told on standard error after
// "FAT1 != FAT2" and before the first box, whatever the user answers then:
// one line for each file or folder whose chain differs between the FATs
// (at most 20, then how many more), one for each place the walk could not
// read, and one summing up.
#pragma once

#include "files/fat_judgement.h"

void tell_fat_choice(const FatJudgement& judgement);
