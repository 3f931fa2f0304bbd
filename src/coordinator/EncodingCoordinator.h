#pragma once
// The encoding coordinator: the application's one model object. It holds the
// queue of jobs, every current export setting of the main window and the
// state of the running batch; the window binds its controls to the
// properties below and calls the commands.
//
// Threads
//   The coordinator lives on the main (GUI) thread. Every public member, the
//   property setters, the commands and the derived values, is called there
//   and nowhere else; it takes no locks. The jobs themselves (EncodeJob) may
//   be read from any thread, and their own changed() signal fires on the
//   thread that changed them: the main thread, except for a job's upload
//   state and upload message, which the thread sending its files writes (a
//   run's worker, or the pass of uploadFinished()). A window observing a job
//   hands such reports to its own thread.
//
// Signals
//   Each setting is a Qt property with a change signal (<name>Changed()). A
//   setter compares the new value with the stored one (records field by
//   field, optionals absent == absent) and, only when they differ, stores it
//   and emits the signal, synchronously, before the setter returns. Writing
//   an equal value emits nothing. Two exceptions: `filters` has no equality
//   and emits on every write, and setOutputDirectory() writes the user
//   default on every call, changed or not. jobsChanged() fires once per
//   command that changed the list (which jobs, or their order); changes
//   inside a job are the job's own changed() signal.
//   Derived values (primaryConfiguration(), overallProgress(), canStart(), …)
//   have no signals: re-read them when one of their inputs signals.
//
// Saving
//   Of the settings only the output folder outlives the process (user default
//   "OutputDirectoryPath"). The queue is saved through the queue store after
//   every accepted queue command when the coordinator was made with
//   Restore::yes; a coordinator made with Restore::no never reads or writes it.
//
// Failures
//   Construction never fails (missing saved state gives an empty queue and no
//   output folder). Commands refused during a run do nothing at all. Naming
//   and sidecars never fail a run except where a member says so.

#include "coordinator/CoordinatorServices.h"
#include "coordinator/OwnOutputs.h"
#include "coordinator/PublishSettings.h"
#include "coordinator/WatchFolderMonitor.h"
#include "model/ColorTagging.h"
#include "model/EncodeJob.h"
#include "model/ExportConfiguration.h"
#include "model/MovieMetadata.h"
#include "model/QueuePersistence.h"
#include "pipeline/AudioSettings.h"
#include "pipeline/Filters.h"

#include <QObject>
#include <QThreadPool>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

class UploadPass;

class EncodingCoordinator : public QObject {
    Q_OBJECT

public:
    using JobList = QueuePersistence::JobList;
    using OptionalPath = std::optional<std::filesystem::path>;
    using OptionalDate = std::optional<Date>;
    using OptionalText = std::optional<std::string>;
    using OptionalConfiguration = std::optional<ExportConfiguration>;

    // The queue, in display order. Changed only by the commands and the run.
    Q_PROPERTY(JobList jobs READ jobs NOTIFY jobsChanged)
    // The main output's settings; primaryConfiguration() assembles them.
    Q_PROPERTY(OutputCodec selectedCodec READ selectedCodec WRITE setSelectedCodec NOTIFY selectedCodecChanged)
    Q_PROPERTY(bool outputAlpha READ outputAlpha WRITE setOutputAlpha NOTIFY outputAlphaChanged)
    Q_PROPERTY(bool dxvHighQuality READ dxvHighQuality WRITE setDxvHighQuality NOTIFY dxvHighQualityChanged)
    Q_PROPERTY(ProResVariant proResVariant READ proResVariant WRITE setProResVariant NOTIFY proResVariantChanged)
    Q_PROPERTY(H264Settings h264 READ h264 WRITE setH264 NOTIFY h264Changed)
    Q_PROPERTY(ResizeSettings resize READ resize WRITE setResize NOTIFY resizeChanged)
    Q_PROPERTY(bool trimEnabled READ trimEnabled WRITE setTrimEnabled NOTIFY trimEnabledChanged)
    Q_PROPERTY(double trimStart READ trimStart WRITE setTrimStart NOTIFY trimStartChanged)
    Q_PROPERTY(double trimEnd READ trimEnd WRITE setTrimEnd NOTIFY trimEndChanged)
    Q_PROPERTY(GeometrySettings geometry READ geometry WRITE setGeometry NOTIFY geometryChanged)
    Q_PROPERTY(NamingSettings naming READ naming WRITE setNaming NOTIFY namingChanged)
    Q_PROPERTY(bool tenBit READ tenBit WRITE setTenBit NOTIFY tenBitChanged)
    // Settings of every run that presets do not carry.
    Q_PROPERTY(ProxySettings proxy READ proxy WRITE setProxy NOTIFY proxyChanged)
    Q_PROPERTY(double stillDuration READ stillDuration WRITE setStillDuration NOTIFY stillDurationChanged)
    Q_PROPERTY(
        bool notifyOnCompletion READ notifyOnCompletion WRITE setNotifyOnCompletion NOTIFY notifyOnCompletionChanged)
    Q_PROPERTY(bool imageSequence READ imageSequence WRITE setImageSequence NOTIFY imageSequenceChanged)
    Q_PROPERTY(FilterSettings filters READ filters WRITE setFilters NOTIFY filtersChanged)
    Q_PROPERTY(AudioSettings audio READ audio WRITE setAudio NOTIFY audioChanged)
    Q_PROPERTY(MetadataSettings metadata READ metadata WRITE setMetadata NOTIFY metadataChanged)
    Q_PROPERTY(ColorSettings color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(PublishSettings publish READ publish WRITE setPublish NOTIFY publishChanged)
    Q_PROPERTY(OptionalConfiguration watchConfiguration READ watchConfiguration WRITE setWatchConfiguration NOTIFY
                   watchConfigurationChanged)
    Q_PROPERTY(OptionalText watchPresetName READ watchPresetName WRITE setWatchPresetName NOTIFY watchPresetNameChanged)
    Q_PROPERTY(OptionalPath outputDirectory READ outputDirectory WRITE setOutputDirectory NOTIFY outputDirectoryChanged)
    Q_PROPERTY(int maxConcurrentJobs READ maxConcurrentJobs WRITE setMaxConcurrentJobs NOTIFY maxConcurrentJobsChanged)
    Q_PROPERTY(bool autoStartWatched READ autoStartWatched WRITE setAutoStartWatched NOTIFY autoStartWatchedChanged)
    // Run state: read-only to the window, set by the runs.
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(bool isCancelling READ isCancelling NOTIFY isCancellingChanged)
    Q_PROPERTY(OptionalDate runStartedAt READ runStartedAt NOTIFY runStartedAtChanged)
    Q_PROPERTY(bool isUploading READ isUploading NOTIFY isUploadingChanged)
    Q_PROPERTY(ImageRef livePreviewImage READ livePreviewImage NOTIFY livePreviewImageChanged)
    Q_PROPERTY(OptionalPath watchFolderURL READ watchFolderURL NOTIFY watchFolderURLChanged)

public:
    // Restore::yes loads the queue from the queue store, restores the output
    // folder, and makes every later queue command save the queue.
    enum class Restore { no, yes };

    // REQUIRES: services.queue, services.userDefaults and services.encoders
    // set; services.clock callable.
    explicit EncodingCoordinator(CoordinatorServices services, Restore restore, QObject* parent = nullptr);
    ~EncodingCoordinator() override;

    const CoordinatorServices& services() const { return services_; }
    // The processor count at construction: the top of the parallel-encodes control.
    int coreCount() const { return services_.coreCount; }

    // ------------------------------------------------------------ settings
    const JobList& jobs() const { return jobs_; }
    OutputCodec selectedCodec() const { return selectedCodec_; }
    void setSelectedCodec(OutputCodec value);
    bool outputAlpha() const { return outputAlpha_; }
    void setOutputAlpha(bool value);
    bool dxvHighQuality() const { return dxvHighQuality_; }
    void setDxvHighQuality(bool value);
    ProResVariant proResVariant() const { return proResVariant_; }
    void setProResVariant(ProResVariant value);
    const H264Settings& h264() const { return h264_; }
    void setH264(const H264Settings& value);
    const ResizeSettings& resize() const { return resize_; }
    void setResize(const ResizeSettings& value);
    bool trimEnabled() const { return trimEnabled_; }
    void setTrimEnabled(bool value);
    double trimStart() const { return trimStart_; }  // seconds
    void setTrimStart(double value);
    double trimEnd() const { return trimEnd_; }  // seconds; not after trimStart: to the end of the source
    void setTrimEnd(double value);
    const GeometrySettings& geometry() const { return geometry_; }
    void setGeometry(const GeometrySettings& value);
    const NamingSettings& naming() const { return naming_; }
    void setNaming(const NamingSettings& value);
    bool tenBit() const { return tenBit_; }
    void setTenBit(bool value);
    const ProxySettings& proxy() const { return proxy_; }
    void setProxy(const ProxySettings& value);
    double stillDuration() const { return stillDuration_; }  // seconds, as typed; see boundedStillDuration()
    void setStillDuration(double value);
    bool notifyOnCompletion() const { return notifyOnCompletion_; }
    void setNotifyOnCompletion(bool value);
    bool imageSequence() const { return imageSequence_; }
    void setImageSequence(bool value);
    const FilterSettings& filters() const { return filters_; }
    void setFilters(const FilterSettings& value);  // emits on every call
    const AudioSettings& audio() const { return audio_; }
    void setAudio(const AudioSettings& value);
    const MetadataSettings& metadata() const { return metadata_; }
    void setMetadata(const MetadataSettings& value);
    const ColorSettings& color() const { return color_; }
    void setColor(const ColorSettings& value);
    const PublishSettings& publish() const { return publish_; }
    void setPublish(const PublishSettings& value);
    const OptionalConfiguration& watchConfiguration() const { return watchConfiguration_; }
    void setWatchConfiguration(const OptionalConfiguration& value);
    const OptionalText& watchPresetName() const { return watchPresetName_; }
    void setWatchPresetName(const OptionalText& value);
    // Absent: each output goes beside its source.
    const OptionalPath& outputDirectory() const { return outputDirectory_; }
    // Also writes the folder's path to the user default "OutputDirectoryPath"
    // (removes it for none) on every call, equal value or not.
    void setOutputDirectory(const OptionalPath& value);
    // Stored as given; a run uses max(min(value, coreCount()), 1).
    int maxConcurrentJobs() const { return maxConcurrentJobs_; }
    void setMaxConcurrentJobs(int value);
    bool autoStartWatched() const { return autoStartWatched_; }
    void setAutoStartWatched(bool value);

    bool isRunning() const { return isRunning_; }
    // From cancelEncoding() until the cancelled batch has stopped.
    bool isCancelling() const { return isCancelling_; }
    // While isCancelling(): the job is one of the cancelled batch's and has
    // not ended yet (still encoding, or waiting to be marked cancelled). The
    // rows the window shows as cancelling; their jobs' own changed() and
    // isCancellingChanged() say when to look again.
    bool isBeingCancelled(const EncodeJob& job) const;
    const OptionalDate& runStartedAt() const { return runStartedAt_; }
    bool isUploading() const { return isUploading_; }
    const ImageRef& livePreviewImage() const { return livePreviewImage_; }
    const OptionalPath& watchFolderURL() const { return watchFolderURL_; }

    // ------------------------------------------------------ derived values
    // The main output's configuration: the settings above, numbers bounded
    // (SettingsBounds), the trim from trimRange(), the geometry only when it
    // crops, rotates, flips or converts the frame rate. Alpha is not yet
    // reconciled with the codec (the router calls resolvingAlpha()).
    ExportConfiguration primaryConfiguration() const;
    // None while trimming is off; else from trimStart to trimEnd, or to the
    // end of the source when trimEnd is not after trimStart; bounded.
    std::optional<TrimRange> trimRange() const;
    // stillDuration bounded for the encoders.
    double boundedStillDuration() const;
    // Progress of the jobs neither failed nor cancelled, of the running batch
    // while one runs, else of the queue; 0 without any. During a run each job
    // weighs as its work (ProgressEstimate::outputWork of its outputs: the
    // pixels of a movie's frames, a sound's or a still's own small cost) once
    // the run has measured it, which it does off the main thread as it
    // starts; until then, and outside a run, every job weighs alike.
    double overallProgress() const;
    // Seconds left in the current run, or none: only while running with a
    // start time and 1 % < progress < 100 %. From the pace each job and the
    // whole run keep, with the jobs side by side (ProgressEstimate::remaining
    // of the run's jobs); without a batch of the coordinator's own (a run
    // stood in for), from overallProgress() alone.
    std::optional<double> estimatedTimeRemaining(Date now) const;
    // Not running, and some enabled job is waiting or failed.
    bool hasPendingWork() const;
    // The codec the main settings write: the selected one with the alpha
    // switch resolved (HEVC with alpha on is HEVC + Alpha).
    OutputCodec outputCodec() const;
    // hasPendingWork() and outputCodec() can be produced.
    bool canStart() const;
    bool canStartProxies() const { return hasPendingWork(); }
    // Not running, the selected codec is ProRes or has bit-rate controls,
    // outputCodec() can be produced, and more than one enabled job is waiting
    // or failed.
    bool canStitch() const;
    // publish is configured, no upload pass runs, and some job is finished
    // with an output.
    bool canPublish() const;

    // Spreads a preset's configuration over the settings: codec, alpha (also
    // set by an HEVC + Alpha codec), DXV quality, ProRes variant, H.264,
    // resize, naming, trim (switch and points), geometry (defaults when
    // absent) and 10-bit. Everything else stays. Each setting signals only
    // when it changes.
    void apply(const ExportConfiguration& configuration);

    // ------------------------------------------------------ queue commands
    // Each accepted command saves the whole queue (Restore::yes), even when it
    // changed nothing. The commands marked "refused while running" return at
    // once while isRunning(): nothing changes, nothing signals, nothing is saved.

    enum class Duplicates { allowed, skipped };
    // Appends a waiting, enabled job for each file whose extension, lower-cased,
    // is a supported media type, in the given order; others, and paths that
    // name no regular file (folders, named pipes, devices: notARegularFile),
    // are skipped and returned, in order, for the caller to name. Duplicates::skipped (the
    // watch folder) also skips, without returning it, a file already queued
    // or given earlier in the call, however its path is spelt (pathIdentity:
    // through a linked folder, "..", relative parts). Files a launch handed
    // over come with its identity (`handOver`), kept with their jobs and
    // saved: a launch that tries again (its window ended before answering) is
    // not queued twice, as nothing is added while a job carries its identity.
    // Allowed during a run.
    std::vector<std::filesystem::path> addFiles(const std::vector<std::filesystem::path>& files, Duplicates duplicates,
                                                const std::optional<Uuid>& handOver = std::nullopt);
    // Removes every job with the job's id. Refused while running.
    void remove(const EncodeJob& job);
    // Back to waiting: progress 0, no error, no output, upload state none and
    // no upload message; enabled flag, outputs and name stay. Does not start a
    // run, except for a stitch's result, which no batch takes: its clips are
    // stitched again at once, with the codec and size settings it was made
    // with. Refused while running.
    void retry(EncodeJob& job);
    // Allowed during a run.
    void setEnabled(EncodeJob& job, bool enabled);
    // The job's own outputs (empty: the main settings apply). Refused while
    // running, since a batch reads them as its jobs begin.
    void setOutputs(EncodeJob& job, std::vector<JobOutputSpec> outputs);
    // List-move semantics: the jobs at `sourceOffsets` (positions before the
    // move; out-of-range ones ignored) keep their relative order and land
    // before the job that was at `destination` (a position before the move,
    // at most jobs().size()). Refused while running.
    void move(const std::vector<std::size_t>& sourceOffsets, std::size_t destination);
    // Removes the finished jobs; waiting, failed and cancelled ones stay.
    // Refused while running.
    void clearFinished();
    // Forgets the queued files the restored queue left out because they were
    // not there (QueueStore::forgetAbsent): the queue is saved without them.
    // Allowed during a run: they are no jobs.
    void forgetQueuedFilesNotFound();

    // --------------------------------------------------- naming and sizing
    // What a run does for each output, asked of one source: the run plans
    // its outputs (jobs::planOutput) through the same functions, with the
    // output folder and date it took when it started. Names follow
    // OutputNaming: the output's template, outputDirectory() as it is when
    // called (else the source's folder), the clock's date.

    // The displayed pixel size a movie output of `source` is sized and named
    // by (jobs::naturalPixelSize of the encoder backend's probe): the media
    // layer's, or the decode helper's for a file only it reads. Throws
    // EncodingError::noVideoTrack without pictures (cover pictures do not
    // count), and the media layer's error for a file nothing can open.
    IntSize naturalPixelSize(const std::filesystem::path& source) const;
    // The audio-only output of `source` (OutputNaming::audioDestination):
    // "<stem>.m4a", {codec} is "audio", the size 0 × 0. Not reserved: the run
    // reserves it as any other.
    std::filesystem::path audioDestinationURL(const std::filesystem::path& source,
                                              const ExportConfiguration& configuration) const;

    // ------------------------------------------------------------- the run
    // A batch takes the enabled jobs waiting or failed when it starts, in
    // queue order, and a snapshot of the settings; later changes reach only
    // the next batch. At most max(min(maxConcurrentJobs(), coreCount()), 1)
    // jobs encode at once, on the coordinator's own threads. Every change to
    // the coordinator, and to a job's status, progress, message and output,
    // is made on the main thread; reports that arrive after their job ended,
    // or after its batch ended, are dropped.
    // Each output is staged by its encoder, so a failed or cancelled output
    // leaves nothing behind. With publishing on (and an uploader wired), a
    // job's successful files are uploaded (publishJobFiles) on its worker
    // before it ends; the upload state is written from there.

    // The decoder and encoder threads each job of a batch gets when
    // `jobsAtOnce` encode side by side: twice an equal share of the cores, so
    // that a job waiting between its own frames leaves no core idle; 0 (the
    // libraries size themselves to the machine) for one at a time.
    static int threadsPerJob(int coreCount, int jobsAtOnce);

    // Starts a batch when canStart(); else does nothing (also while running).
    // Emits aboutToStart() first.
    void startEncoding();
    // Encodes every pending job once more as an editing proxy: proxy()'s one
    // output ("{name}_proxy"), without filters or loudness changes, with the
    // colour tags, metadata and caption sidecar of any output, and without
    // the job's own outputs. The jobs keep their status, progress, message
    // and outputs (a proxy does not finish the job's encode); a failed proxy
    // fails its job with its own message. Does nothing unless hasPendingWork();
    // else emits aboutToStart() first.
    void startProxies();
    // When canStitch(): joins the pending jobs' sources, in queue order, into
    // one movie of primaryConfiguration()'s codec and size (no trim, geometry,
    // filters or sound changes), named "stitched_…" beside the first clip or
    // in the output folder. Its result is a new job at the end of the queue,
    // "Stitched · N clips", for this session only: it is never saved with the
    // queue and never taken by a later batch (retry() stitches it again). The
    // clips' jobs stay as they are. Emits aboutToStart() first.
    void startStitch();
    // Stops the running batch: no further job begins, running ones end
    // cancelled as their encoders stop (or finished, when they completed
    // first), and the end of the batch, after the last worker, marks the
    // batch's jobs still waiting as cancelled. Jobs outside the batch
    // (disabled, or added during the run) stay as they are.
    void cancelEncoding();
    // Before the application quits: cancels, waits up to `timeout` for the
    // workers, applies the outcomes they reported, marks the batch's jobs
    // still open as cancelled, ends the batch and saves the queue.
    void prepareToQuit(std::chrono::milliseconds timeout);
    // When the queue's last save left it unwritten (QueueStore::unsaved()),
    // saves it again. Returns what still keeps it unsaved; empty when it is
    // on disk or the coordinator does not persist.
    std::vector<StoredFileReport> saveUnsavedQueue();
    // The files the job's latest run wrote successfully, in output order
    // (recordSuccessfulOutput()'s list).
    std::vector<std::filesystem::path> writtenOutputs(const EncodeJob& job) const;

    // ------------------------------------------------------ caption sidecar
    // After a successful movie output (not GIF, image or still routes): the
    // WebVTT copy of metadata().captionSourceURL beside `output`, reading
    // metadata() as it is now. Silent. A run writes its sidecars through the
    // same CaptionSidecar::write, with the metadata it took when it started.
    void writeCaptionSidecar(const std::filesystem::path& output) const;

    // --------------------------------------------------------- watch folder
    // (EncodingCoordinatorWatching.cpp)

    // Ends any watch, then watches `folder`: each file that finishes arriving
    // there (WatchFolderMonitor) is queued unless it is one of this system's
    // own outputs (isOwnOutput), an earlier output beside its source (named as
    // an output of a source in the same folder is by default:
    // OutputNaming::isDefaultOutputName) or already queued, given the watch
    // preset as its one output when watchConfiguration() is set, and the queue
    // saved. With autoStartWatched() on, a batch starts as startEncoding()
    // starts one (without aboutToStart()); while a batch runs, the next one
    // starts when it ends, unless it was cancelled. A watched file written
    // again after it was taken is taken again: a job of it still to run
    // (waiting, or failed: then back to waiting) takes the new content, as
    // does a finished one when the file has only grown at its end since (the
    // rest of a copy that paused), and one the running batch encodes, when
    // the batch ends; else a new job is queued. A waiting job whose file has left the folder, or is
    // being written again, leaves the queue (the file comes back when it has
    // finished arriving), unless the running batch holds it. One whose file
    // left with the folder (a drive unplugged) comes back as it was with the
    // file, however long it was away; a file back with the bytes it was taken
    // with is not taken again, whether its job is done, kept or cleared. A
    // folder that cannot be watched still counts as watched; nothing is reported.
    void startWatching(const std::filesystem::path& folder);
    // Ends the watch (its thread joined) and clears watchFolderURL().
    void stopWatching();
    // Already true, or false, when watchFolderURLChanged() of the start, or
    // the stop, fires.
    bool isWatching() const { return monitor_ != nullptr; }
    // True once the watch reads the folder's events (WatchFolderMonitor::isWatching).
    bool watchHasBegun() const { return monitor_ && monitor_->isWatching(); }
    // True for a destination this coordinator has reserved or written (any
    // template, numbered names, sidecars, image-sequence folders, stitches)
    // and, once a watch has started, for the outputs of earlier sessions the
    // encode history and the queued jobs name. Names alone never count.
    bool isOwnOutput(const std::filesystem::path& file) const;

    // ----------------------------------------------------------- publishing
    // (EncodingCoordinatorPublishing.cpp)

    // "Upload finished now": when canPublish() and an uploader is wired, sends
    // the output files of every finished job (queue order, taken now), one
    // upload at a time, with publish() and the secret as they are now; jobs
    // already uploading are skipped. isUploading() is true until the last
    // upload ends. Returns at once.
    void uploadFinished();
    // Records a successful output file of `job` in this run, so a later
    // upload sends every one of them; retry() forgets them. Main thread.
    void recordSuccessfulOutput(const EncodeJob& job, const std::filesystem::path& file);
    // The files an upload of `job` sends: its recorded outputs in order,
    // else its outputURL; folders (image sequences) never.
    std::vector<std::filesystem::path> uploadableFiles(const EncodeJob& job) const;
    // The stored publishing secret, or "" (the window fills its field with it).
    std::string publishSecret() const;
    // Called when editing of the secret field ends, not per keystroke:
    // replaces the stored secret in one step ("" removes it), and writes
    // nothing when the text equals the stored one.
    void setPublishSecret(std::string_view secret);
    // The end of a batch that was not cancelled: when notifyOnCompletion() is
    // on and a notifier is wired, posts "Framewright" with the summary of the
    // batch's finished and failed jobs. Returns at once.
    void postCompletionNotification(int finished, int failed) const;

signals:
    void jobsChanged();
    void selectedCodecChanged();
    void outputAlphaChanged();
    void dxvHighQualityChanged();
    void proResVariantChanged();
    void h264Changed();
    void resizeChanged();
    void trimEnabledChanged();
    void trimStartChanged();
    void trimEndChanged();
    void geometryChanged();
    void namingChanged();
    void tenBitChanged();
    void proxyChanged();
    void stillDurationChanged();
    void notifyOnCompletionChanged();
    void imageSequenceChanged();
    void filtersChanged();
    void audioChanged();
    void metadataChanged();
    void colorChanged();
    void publishChanged();
    void watchConfigurationChanged();
    void watchPresetNameChanged();
    void outputDirectoryChanged();
    void maxConcurrentJobsChanged();
    void autoStartWatchedChanged();
    void isRunningChanged();
    void isCancellingChanged();
    void runStartedAtChanged();
    void isUploadingChanged();
    void livePreviewImageChanged();
    void watchFolderURLChanged();
    // After the end-of-batch steps; the counts cover that batch's jobs.
    void batchFinished(int finished, int failed, int cancelled);
    // A start command (encode, proxies, stitch) was accepted; the run reads
    // the settings when the connected slots have returned. A window commits
    // the edit its caret is in here, so the run takes what the field shows.
    // An automatic start of the watch folder does not emit it.
    void aboutToStart();

protected:
    // Run state, written by the runs (and by tests standing in for one).
    void setRunning(bool value);
    void setCancelling(bool value);
    void setRunStartedAt(const OptionalDate& value);
    void setUploading(bool value);
    void setLivePreviewImage(const ImageRef& value);  // compared by identity
    void setWatchFolderURL(const OptionalPath& value);

private:
    // Compare, then store and emit: the one rule of every setter.
    template <class T>
    void assign(T& field, const T& value, void (EncodingCoordinator::*changed)());
    void restoreOutputDirectory();
    // Stores the list, signalling only when it differs, then saves the queue.
    void replaceJobs(JobList jobs);
    void forgetSuccessfulOutputs(const EncodeJob& job);
    // The watch folder's report of arrived and gone files, on the main thread.
    void ingestWatched(const WatchFolderMonitor::Changes& changes);
    // Removes the waiting jobs of watched files that have left the folder for good.
    void withdrawGone(const std::vector<std::filesystem::path>& files);
    // Removes the waiting jobs of `files` that the running batch does not hold,
    // for good or, while their files are written again or away, to withdrawnUntilBack_;
    // then saves the queue. Returns whether it withdrew any.
    enum class Withdrawal { forGood, untilBack };
    bool withdrawWaiting(const std::vector<std::filesystem::path>& files, Withdrawal withdrawal);
    // At the end of a batch: the next one, for the watched files that arrived
    // during it, when automatic start is on.
    void startBatchForWatchedFiles(bool batchCancelled);
    // Adds the outputs of earlier sessions to ownOutputs_.
    void rememberEarlierOutputs();

    struct Run;
    struct JobReport;
    static void runStitch(EncodingCoordinator* coordinator, const std::shared_ptr<Run>& run,
                          const std::shared_ptr<EncodeJob>& job);
    // The queue without the stitch results, and the jobs withdrawn while their
    // files are written again, when the coordinator persists.
    void saveQueue();
    // Runs the stitch `result` stands for (stitches_), as at its first run.
    void beginStitch(const std::shared_ptr<EncodeJob>& result);
    // startEncoding() without aboutToStart(): the watch folder's automatic
    // start takes the settings as they stand, not a field still being typed.
    void startEncodingRun();
    // Takes the pending jobs into `run` (a stitch brings its own) and starts it.
    void beginRun(const std::shared_ptr<Run>& run);
    // Enabled, waiting or failed, and an ordinary job.
    bool isPendingJob(const EncodeJob& job) const;
    // Worker side: one job, start to outcome. Blocks.
    static void runJob(EncodingCoordinator* coordinator, const std::shared_ptr<Run>& run,
                       const std::shared_ptr<EncodeJob>& job);
    // Main-thread side of the reports, each tagged with its run and job.
    void jobBegan(std::uint64_t runId, const std::shared_ptr<EncodeJob>& job);
    void jobProgressed(std::uint64_t runId, const Uuid& jobId, double progress);
    void jobPreviewed(std::uint64_t runId, const Uuid& jobId, const ImageRef& image);
    void jobEnded(std::uint64_t runId, const std::shared_ptr<EncodeJob>& job, const JobReport& report);
    // Measures the work of the run's jobs on measuring_ and hands it to jobsMeasured().
    void measureWork(const std::shared_ptr<Run>& run);
    void jobsMeasured(std::uint64_t runId, const std::map<Uuid, double>& work);
    void endRun();
    // REQUIRES: a batch runs. Its jobs, and the work measured of them.
    const JobList& runJobs() const;
    const std::map<Uuid, double>& runWork() const;
    // REQUIRES: a batch runs. ProgressEstimate::remaining of its jobs at `now`.
    std::optional<double> runTimeLeft(Date now) const;
    // The job row's text for a failed output; toFolder: an output folder is chosen.
    static std::string failureMessage(const std::exception& error, bool toFolder);

    CoordinatorServices services_;
    const bool persists_;

    JobList jobs_;
    OutputCodec selectedCodec_ = OutputCodec::proRes;
    bool outputAlpha_ = false;
    bool dxvHighQuality_ = false;
    ProResVariant proResVariant_ = ProResVariant::hq;
    H264Settings h264_;
    ResizeSettings resize_;
    bool trimEnabled_ = false;
    double trimStart_ = 0;
    double trimEnd_ = 0;
    GeometrySettings geometry_;
    NamingSettings naming_;
    bool tenBit_ = false;
    ProxySettings proxy_;
    double stillDuration_ = 5;
    bool notifyOnCompletion_ = true;
    bool imageSequence_ = false;
    FilterSettings filters_;
    AudioSettings audio_;
    MetadataSettings metadata_;
    ColorSettings color_;
    PublishSettings publish_;
    OptionalConfiguration watchConfiguration_;
    OptionalText watchPresetName_;
    OptionalPath outputDirectory_;
    int maxConcurrentJobs_ = 1;
    bool autoStartWatched_ = true;
    bool isRunning_ = false;
    bool isCancelling_ = false;
    OptionalDate runStartedAt_;
    bool isUploading_ = false;
    ImageRef livePreviewImage_;
    OptionalPath watchFolderURL_;
    std::map<Uuid, std::vector<std::filesystem::path>> successfulOutputs_;
    std::unique_ptr<UploadPass> uploadPass_;
    // Shared with the runs' workers, which record every destination they reserve.
    std::shared_ptr<OwnOutputs> ownOutputs_ = std::make_shared<OwnOutputs>();
    std::unique_ptr<WatchFolderMonitor> monitor_;  // stopped first by the destructor
    std::set<Uuid> awaitingNextBatch_;             // jobs the watch added during the running batch
    // Watched files written again while the batch ran, with whether they only grew.
    std::map<std::filesystem::path, bool> retakeWhenBatchEnds_;
    // Waiting jobs withdrawn while their files were written again or away with
    // their folder: each comes back as it was (its outputs and choices kept)
    // once its file has arrived or is back, and is saved with the queue
    // meanwhile, so no more than the queue held. Keyed by the file's
    // pathIdentity: the watch may spell the path of a queued file another way.
    std::map<std::filesystem::path, JobList> withdrawnUntilBack_;

    std::shared_ptr<Run> run_;  // while a batch runs
    std::uint64_t runCount_ = 0;
    // Each stitch result of this session and what it joins.
    struct StitchRequest {
        std::vector<std::filesystem::path> clips;
        ExportConfiguration configuration;
    };
    std::map<Uuid, StitchRequest> stitches_;
    // Last: their destruction waits for the workers and the measuring, which
    // report to this object.
    std::unique_ptr<QThreadPool> measuring_;
    std::unique_ptr<QThreadPool> pool_;
};

}  // namespace fw
