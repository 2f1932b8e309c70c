#pragma once
// Submission of a batch script through the cluster's own sbatch command.
#include <string>

// The job id in the output of `sbatch --parsable`: "<id>" or "<id>;<cluster>", then a newline.
// False when the output is not of that form.
bool parseJobId(const std::string &output, std::string &jobId);

// Runs `sbatch --parsable [extraOptions] script` and returns the job id; on failure returns
// false with a message holding sbatch's own output.
bool submitBatchScript(const std::string &scriptPath, const std::string &extraOptions,
                       std::string &jobId, std::string &error);
