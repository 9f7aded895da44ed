#pragma once

class Downloader;

// Logs whether the catalogue offers an update; connected directly to
// Downloader::releasesJsonFetched, so it sees the release that was just read.
struct UpdateAvailabilityCheck
{
    Downloader *downloader = nullptr;
    void operator()() const;
};
