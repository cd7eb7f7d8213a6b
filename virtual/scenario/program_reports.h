// What the files a host program asks for at the end hold (program_files.h): the model clock of
// both speeds as JSON, the model errors one a line, and the entry-point calls one a line.
#pragma once

#include "scenario/output_file.h"

namespace vcable {

void WriteClockReport(output_file::OutputFile& file);
void WriteModelErrors(output_file::OutputFile& file);
void WriteCallLog(output_file::OutputFile& file);

}  // namespace vcable
