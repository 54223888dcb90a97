// Resource identifiers shared by Quillbeck.rc and the window code.
#pragma once

// The program's icon: the first icon group, so the shell shows it for the
// executable too.
#define IDI_QUILLBECK 1
