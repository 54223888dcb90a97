// soak_check: the soak test's verdict, once every writer has stopped and the
// watched folders have drained.
//
//   soak_check ROOT INSTALL READER
//
// Reads what the writers dropped (records/writer-*.log), what the readers
// and the scanner saw (records/reader-*.log, records/scanner.log), what the
// driver did and found (records/driver.log: "fact KEY VALUE", "pass TEXT",
// "fail TEXT", "note TEXT") and the program's logs in INSTALL/Logs, then
// checks the folders themselves. READER is the command path of the slot whose
// command was made unstartable for a while. Prints every figure and check
// and closes with "soak: N passed, M failed"; exits 1 when a check failed.
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "soak_files.h"

namespace {

int passed = 0, failed = 0;

void Check(bool ok, const std::string& text) {
  std::cout << (ok ? "  pass  " : "  FAIL  ") << text << "\n";
  (ok ? passed : failed) += 1;
}

void Figure(const std::string& text) { std::cout << "  figure " << text << "\n"; }

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

struct Drop {
  int slot;
  soak::Header header;
  std::string kind;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: soak_check ROOT INSTALL READER\n";
    return 2;
  }
  const std::string root = argv[1];
  const std::string logs = std::string(argv[2]) + "/Logs";
  const std::string fault_reader = argv[3];
  const std::string records = soak::Records(root);

  // --- what the driver did -------------------------------------------------
  std::map<std::string, std::string> facts;
  std::cout << "driver:\n";
  for (const std::string& line : Lines(records + "/driver.log")) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    std::string rest;
    std::getline(in, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    if (word == "fact") {
      const std::size_t blank = rest.find(' ');
      facts[rest.substr(0, blank)] = blank == std::string::npos ? "" : rest.substr(blank + 1);
    } else if (word == "pass" || word == "fail") {
      Check(word == "pass", rest);
    } else if (word == "note") {
      std::cout << "  note   " << rest << "\n";
    }
  }
  auto fact = [&](const std::string& key) {
    const auto it = facts.find(key);
    return it == facts.end() ? 0L : std::atol(it->second.c_str());
  };

  // --- what the writers dropped -------------------------------------------
  std::vector<Drop> drops;
  std::vector<std::pair<int, std::string>> decoys;
  std::map<std::pair<int, std::string>, long> last_version;
  std::set<std::tuple<int, std::string, long>> verified;
  long unverified = 0;
  std::map<std::string, long> kinds;
  for (const std::string& name : soak::Names(records)) {
    if (!StartsWith(name, "writer-")) continue;
    for (const std::string& line : Lines(records + "/" + name)) {
      std::istringstream in(line);
      std::string word;
      in >> word;
      if (word == "drop") {
        Drop d;
        in >> d.slot >> d.header.name >> d.header.writer >> d.header.sequence >> d.header.version >>
            d.header.length >> d.kind;
        drops.push_back(d);
        ++kinds[d.kind];
        if (d.kind == "reuse") {
          long& last = last_version[{d.slot, d.header.name}];
          last = std::max(last, d.header.version);
        }
      } else if (word == "decoy") {
        int slot;
        std::string decoy;
        in >> slot >> decoy;
        decoys.emplace_back(slot, decoy);
      } else if (word == "verified") {
        int slot;
        std::string file;
        long version;
        in >> slot >> file >> version;
        verified.emplace(slot, file, version);
      } else if (word == "unverified") {
        ++unverified;
      }
    }
  }
  std::string mix;
  for (const auto& [kind, count] : kinds) mix += " " + kind + "=" + std::to_string(count);
  std::cout << "files:\n";
  Figure("dropped " + std::to_string(drops.size()) + " files (" + mix.substr(1) + "), " +
         std::to_string(decoys.size()) + " decoys that must stay");

  // Every dropped file is in Temp byte for byte: the unique ones as they
  // were written, a reused name as its last version, each earlier version
  // having been seen whole in Temp by its writer.
  long whole = 0, missing = 0, differing = 0, versions_unseen = 0;
  std::set<std::pair<int, std::string>> expected_in_temp;
  std::string first_problem;
  for (const Drop& d : drops) {
    const bool reused = d.kind == "reuse";
    if (reused) {
      if (!verified.count({d.slot, d.header.name, d.header.version})) ++versions_unseen;
      if (d.header.version != last_version[{d.slot, d.header.name}]) continue;
    }
    expected_in_temp.emplace(d.slot, d.header.name);
    // The driver moves what reached Temp into the archive between rounds.
    std::string bytes;
    std::string path = soak::Temp(root, d.slot) + "/" + d.header.name;
    if (!soak::Exists(path)) path = soak::Archive(root, d.slot) + "/" + d.header.name;
    if (!soak::ReadAll(path, bytes)) {
      ++missing;
      if (first_problem.empty()) first_problem = "missing: " + path;
    } else if (bytes != soak::Contents(d.header)) {
      ++differing;
      if (first_problem.empty()) first_problem = "differs: " + path;
    } else {
      ++whole;
    }
  }
  Check(missing == 0 && differing == 0,
        "every dropped file is in Temp byte for byte: " + std::to_string(whole) + " whole, " +
            std::to_string(missing) + " missing, " + std::to_string(differing) + " differing" +
            (first_problem.empty() ? "" : " (first: " + first_problem + ")"));
  Check(versions_unseen == 0 && unverified == 0,
        "every version of a reused name was seen whole in Temp before the next was written (" +
            std::to_string(kinds["reuse"]) + " versions, " + std::to_string(versions_unseen) +
            " not seen)");

  // Nothing is left behind, nothing else arrives, decoys stay.
  long left = 0, strays = 0, temporaries = 0, temporaries_outside_fault = 0;
  const long temp_fault_slot = fact("temp_fault_slot");
  std::string first_left, first_stray;
  for (int slot = 1; slot <= 5; ++slot) {
    for (const std::string& name : soak::Names(soak::Watched(root, slot))) {
      struct stat st;
      if (lstat((soak::Watched(root, slot) + "/" + name).c_str(), &st) != 0 ||
          !S_ISREG(st.st_mode)) {
        continue;
      }
      if (soak::EndsInGdt(name)) {
        ++left;
        if (first_left.empty()) first_left = soak::Watched(root, slot) + "/" + name;
      }
    }
    for (const std::string& folder : {soak::Temp(root, slot), soak::Archive(root, slot)}) {
      for (const std::string& name : soak::Names(folder)) {
        if (soak::EndsInGdt(name)) {
          if (!expected_in_temp.count({slot, name})) {
            ++strays;
            if (first_stray.empty()) first_stray = folder + "/" + name;
          }
        } else {
          ++temporaries;
          if (slot != temp_fault_slot) ++temporaries_outside_fault;
        }
      }
    }
  }
  Check(left == 0, "the watched folders drained: " + std::to_string(left) + " .GDT files left" +
                       (first_left.empty() ? "" : " (first: " + first_left + ")"));
  Check(strays == 0, "nothing but the dropped files reached Temp: " + std::to_string(strays) +
                         " others" + (first_stray.empty() ? "" : " (first: " + first_stray + ")"));
  Figure(std::to_string(temporaries) +
         " other files in Temp (a copy's temporary file can stay "
         "behind only when Temp is pulled away in the middle of a copy)");
  Check(temporaries_outside_fault == 0,
        "no temporary file stayed behind in a Temp that was never pulled away");
  long decoys_moved = 0;
  for (const auto& [slot, name] : decoys) {
    const std::string path = soak::Watched(root, slot) + "/" + name;
    const bool folder = soak::EndsInGdt(name);
    const bool stayed = folder ? soak::Exists(path + "/inner.GDT") : soak::Exists(path);
    if (!stayed || soak::Exists(soak::Temp(root, slot) + "/" + name)) ++decoys_moved;
  }
  Check(decoys_moved == 0, "files and folders that do not match stayed where they were (" +
                               std::to_string(decoys.size()) + ", " + std::to_string(decoys_moved) +
                               " touched)");

  // --- what the readers and the scanner saw -------------------------------
  std::cout << "readers and scanner:\n";
  std::map<int, long> starts, pickups, launch_failures;
  long reader_checked = 0, reader_bad = 0, leaks = 0;
  std::string first_leak, first_bad;
  for (int slot = 1; slot <= 5; ++slot) {
    for (const std::string& line : Lines(records + "/reader-" + std::to_string(slot) + ".log")) {
      if (StartsWith(line, "start ")) {
        ++starts[slot];
        std::istringstream in(line.substr(6));
        std::string pid, checked, bad, fds;
        in >> pid >> checked >> bad >> fds;
        reader_checked += std::atol(checked.c_str() + 8);
        reader_bad += std::atol(bad.c_str() + 4);
        if (fds != "fds=-") {
          ++leaks;
          if (first_leak.empty()) first_leak = fds;
        }
      } else if (StartsWith(line, "bad ") && first_bad.empty()) {
        first_bad = line;
      }
    }
  }
  for (const Drop& d : drops) ++pickups[d.slot];
  Check(reader_bad == 0,
        "no reader ever saw a partial file in Temp: " + std::to_string(reader_checked) +
            " reads, " + std::to_string(reader_bad) + " partial" +
            (first_bad.empty() ? "" : " (first: " + first_bad + ")"));
  long scanner_reads = -1, scanner_bad = -1;
  std::string scanner_first_bad;
  for (const std::string& line : Lines(records + "/scanner.log")) {
    if (StartsWith(line, "scanner ")) {
      std::istringstream in(line.substr(8));
      std::string passes, reads, bad;
      in >> passes >> reads >> bad;
      scanner_reads = std::atol(reads.c_str() + 6);
      scanner_bad = std::atol(bad.c_str() + 4);
      Figure("scanner: " + passes + " passes over the five Temp folders, " + reads);
    } else if (StartsWith(line, "bad ") && scanner_first_bad.empty()) {
      scanner_first_bad = line;
    }
  }
  Check(scanner_reads > 0 && scanner_bad == 0,
        "the scanner never saw a partial file in Temp: " + std::to_string(scanner_reads) +
            " reads, " + std::to_string(scanner_bad) + " partial" +
            (scanner_first_bad.empty() ? "" : " (first: " + scanner_first_bad + ")"));
  long started = 0;
  for (const auto& [slot, count] : starts) started += count;
  Check(leaks == 0, "no descriptor leaked into a started command: " + std::to_string(started) +
                        " starts, " + std::to_string(leaks) + " with extra descriptors" +
                        (first_leak.empty() ? "" : " (first: " + first_leak + ")"));

  // --- the logs ----------------------------------------------------------
  std::cout << "logs and starts:\n";
  std::vector<std::string> error_lines, debug_lines;
  for (const std::string& name : soak::Names(logs)) {
    const std::vector<std::string> lines = Lines(logs + "/" + name);
    if (StartsWith(name, "Error") || StartsWith(name, "error")) {
      error_lines.insert(error_lines.end(), lines.begin(), lines.end());
    } else if (StartsWith(name, "Debug")) {
      debug_lines.insert(debug_lines.end(), lines.begin(), lines.end());
    }
  }
  long tick_errors = 0, temp_errors = 0, locked_errors = 0, held_errors = 0, save_errors = 0;
  const std::string temp_marker = "/watched" + std::to_string(temp_fault_slot) + "/Temp/";
  const std::string held_name = facts.count("held_name") ? facts["held_name"] : "-";
  for (const std::string& line : error_lines) {
    if (EndsWith(line, " - tmrWork_Timer")) {
      ++tick_errors;
      if (line.find(fault_reader) != std::string::npos) {
        // A launch that failed: the file is in Temp, its command never ran.
        ++launch_failures[static_cast<int>(fact("command_fault_slot"))];
      } else if (line.find(temp_marker) != std::string::npos) {
        ++temp_errors;
      } else if (line.find("still open for writing") != std::string::npos) {
        ++locked_errors;
        if (line.find(held_name) != std::string::npos) ++held_errors;
      }
    } else if (EndsWith(line, " - cmdSave_Click") &&
               line.find("Settings.ini") != std::string::npos) {
      ++save_errors;
    }
  }
  long failures = 0;
  for (const auto& [slot, count] : launch_failures) failures += count;
  Figure(std::to_string(error_lines.size()) + " Error.log entries: " + std::to_string(tick_errors) +
         " from ticks (" + std::to_string(locked_errors) + " files still open for writing, " +
         std::to_string(temp_errors) + " copies into a missing Temp, " + std::to_string(failures) +
         " unstartable commands), " + std::to_string(save_errors) + " from Save");

  long pickups_total = static_cast<long>(drops.size());
  std::string per_slot;
  bool slots_agree = true;
  for (int slot = 1; slot <= 5; ++slot) {
    per_slot += " " + std::to_string(slot) + ":" + std::to_string(starts[slot]) + "/" +
                std::to_string(pickups[slot] - launch_failures[slot]);
    slots_agree = slots_agree && starts[slot] == pickups[slot] - launch_failures[slot];
  }
  Check(slots_agree,
        "the command started once per picked-up file, less the launches that "
        "failed: " +
            std::to_string(started) + " starts = " + std::to_string(pickups_total) + " files - " +
            std::to_string(failures) + " failed launches (per slot, starts/expected:" + per_slot +
            ")");

  // "Done" ends each start of a command, and once the reading of the
  // settings at start-up.
  long shell_lines = 0, done_lines = -1;
  for (const std::string& line : debug_lines) {
    if (line.find(" - Shell ") != std::string::npos) ++shell_lines;
    if (EndsWith(line, " - Done")) ++done_lines;
  }
  const long untraced = fact("log_window_pickups");
  Check(shell_lines == pickups_total - untraced && shell_lines - done_lines == failures,
        "Debug.log traced every pick-up and every start: " + std::to_string(shell_lines) +
            " \"Shell \" lines = " + std::to_string(pickups_total) + " files - " +
            std::to_string(untraced) + " picked up while the log folder was unwritable; " +
            std::to_string(shell_lines - done_lines) + " without \"Done\" = the failed launches");

  std::cout << "faults:\n";
  Check(temp_errors > 0, "Temp pulled away: Error.log names the copy into it (" +
                             std::to_string(temp_errors) + " entries, tmrWork_Timer)");
  Check(failures > 0, "command made unstartable: Error.log names the failed launch (" +
                          std::to_string(failures) + " entries, tmrWork_Timer)");
  Check(held_errors > 0, "a file held open for writing was left alone: Error.log names it (" +
                             std::to_string(held_errors) + " entries)");
  Check(save_errors > 0, "Save over a read-only Settings.ini: Error.log names it (" +
                             std::to_string(save_errors) + " entries, cmdSave_Click)");

  std::cout << "soak: " << passed << " passed, " << failed << " failed\n";
  return failed == 0 ? 0 : 1;
}
