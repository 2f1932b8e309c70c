#include "slurm/sbatch.h"

#include <cstdio>
#include <sys/wait.h>

#include "slurm/job_scripts.h"

bool parseJobId(const std::string &output, std::string &jobId) {
  std::string line = output.substr(0, output.find('\n'));
  line = line.substr(0, line.find(';'));
  if (line.empty() || line.find_first_not_of("0123456789") != std::string::npos)
    return false;
  jobId = line;
  return true;
}

bool submitBatchScript(const std::string &scriptPath, const std::string &extraOptions,
                       std::string &jobId, std::string &error) {
  const std::string command =
      "sbatch --parsable " + extraOptions + " " + shellQuoted(scriptPath) + " 2>&1";
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    error = "torvacoreel-slurm: cannot run sbatch\n";
    return false;
  }
  std::string output;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, got);
  const int status = pclose(pipe);
  if (status != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || !parseJobId(output, jobId)) {
    error = "torvacoreel-slurm: " + command + " failed:\n" + output;
    return false;
  }
  return true;
}
