#pragma once

// Settings of the whole process that must be made before the application object exists.
// Qt's regular expressions (file dialog filters among them) would otherwise compile to code
// in memory that is writable and executable at once; the program's own machine code never
// is, and neither is any other memory of the process after this.
void prepareProcess();
