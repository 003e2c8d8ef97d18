#pragma once

#include <string>
#include <vector>

namespace kora {

// Why a PDF made from session logs (a report, a certificate) must not be
// written at `path`, in words that follow "cannot write PATH: "; empty when
// it may. Its name must end in ".pdf", so that a forgotten output cannot
// turn the last log named into the output (`--report a.csv.1 a.csv`); it
// must be none of `logs` under any name, and no session log at all, plain
// or compressed; and whatever OutputPathRefusal refuses. Ask again right
// before the file is put in place: the path may have changed meanwhile.
std::string PdfOutputRefusal(const std::string& path, const std::vector<std::string>& logs);

} // namespace kora
