#pragma once
// Prepares the run folder on the shared file system before submission: the shard folders, the
// list copy every job reads, and links to the settings files.
#include <string>

#include "slurm/job_scripts.h"

// The settings files the analysis reads from its working folder.
constexpr const char *kSettingsFiles[] = {"torva.configure", "mask.img", "nbhd_system.torva"};

// The list text with every relative image path made absolute against `baseFolder`, so that the
// shards read the images from their own folders. The words of the head and the ids and
// outcomes are kept as written; the list must be one parseFileList accepts.
bool absoluteListText(const std::string &listText, const std::string &baseFolder,
                      std::string &absoluteText, std::string &error);

// Refuses a run folder path that cannot go into an #SBATCH line unquoted.
bool checkRunFolderPath(const std::string &runFolder, std::string &error);

// Creates shardRoot (which must not exist yet, so an earlier run's shards cannot mix in), the
// shard folders, the list copy, and in every shard folder a link to each settings file present
// in the run folder.
bool prepareRunFolders(const RunLayout &layout, const std::string &listCopyText,
                       std::string &error);

// Writes `text` to `path`, replacing it.
bool writeTextFile(const std::string &path, const std::string &text, std::string &error);
