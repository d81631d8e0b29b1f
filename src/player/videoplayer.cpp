#include "player/videoplayer.h"

#include "core/files.h"
#include "core/property.h"
#include "core/sha256.h"
#include "net/request.h"
#include "net/vmsclient.h"
#include "player/clipfeed.h"
#include "player/growingfile.h"

#include <mpv/client.h>
#include <mpv/render.h>
#include <mpv/stream_cb.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickWindow>
#include <QSGImageNode>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

const char kProtocol[] = "tillmark";
const QString kClipUri = QStringLiteral("tillmark://clip/%1");
const QString kReceiptsUri = QStringLiteral("tillmark://receipts/%1");

/// mpv's name of QImage::Format_RGB32's byte order on this machine.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
const char kPixelFormat[] = "bgr0";
#else
const char kPixelFormat[] = "0rgb";
#endif

/// An image whose first pixel and lines start on 64-byte boundaries, which mpv's software renderer
/// fills without an extra copy.
QImage alignedImage(const QSize &size)
{
    const qsizetype stride = (qsizetype(size.width()) * 4 + 63) & ~qsizetype(63);
    void *block = std::malloc(size_t(stride) * size_t(size.height()) + 64);
    if (!block)
        return QImage();
    auto *first = reinterpret_cast<uchar *>((reinterpret_cast<quintptr>(block) + 63) & ~quintptr(63));
    return QImage(first, size.width(), size.height(), int(stride), QImage::Format_RGB32, std::free, block);
}

/// One stream mpv opened through the program's protocol.
class Stream
{
public:
    virtual ~Stream() = default;
    virtual int64_t read(char *buffer, uint64_t size) = 0;
    virtual int64_t seek(int64_t offset) = 0;
    virtual int64_t size() = 0;
    virtual void cancel() { }
};

class ClipStream : public Stream
{
public:
    explicit ClipStream(std::shared_ptr<GrowingFile> file)
        : m_reader(std::move(file))
    {
    }
    int64_t read(char *buffer, uint64_t size) override { return m_reader.read(buffer, size); }
    int64_t seek(int64_t offset) override
    {
        const int64_t to = m_reader.seek(offset);
        return to < 0 ? int64_t(MPV_ERROR_GENERIC) : to;
    }
    int64_t size() override
    {
        const int64_t known = m_reader.size();
        return known < 0 ? int64_t(MPV_ERROR_UNSUPPORTED) : known;
    }
    void cancel() override { m_reader.cancel(); }

private:
    GrowingFile::Reader m_reader;
};

class ScriptStream : public Stream
{
public:
    explicit ScriptStream(const QByteArray &bytes)
        : m_stream(bytes)
    {
    }
    int64_t read(char *buffer, uint64_t size) override { return m_stream.read(buffer, size); }
    int64_t seek(int64_t offset) override
    {
        const int64_t to = m_stream.seek(offset);
        return to < 0 ? int64_t(MPV_ERROR_GENERIC) : to;
    }
    int64_t size() override { return m_stream.size(); }

private:
    MemoryStream m_stream;
};

/// The start of each chapter of mpv's "chapter-list", in seconds.
QVariantList chapterTimes(const mpv_node &list)
{
    QVariantList times;
    if (list.format != MPV_FORMAT_NODE_ARRAY)
        return times;
    for (int i = 0; i < list.u.list->num; ++i) {
        const mpv_node &chapter = list.u.list->values[i];
        if (chapter.format != MPV_FORMAT_NODE_MAP)
            continue;
        for (int k = 0; k < chapter.u.list->num; ++k) {
            const mpv_node &value = chapter.u.list->values[k];
            if (qstrcmp(chapter.u.list->keys[k], "time") == 0 && value.format == MPV_FORMAT_DOUBLE)
                times.append(value.u.double_);
        }
    }
    return times;
}

/// The machine's local time with its offset, as the export's manifest gives it.
QString localText(const QDateTime &at)
{
    const QDateTime local = at.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

} // namespace

/// What mpv's threads may open through the program's protocol: the clip being fetched and the script.
struct VideoPlayer::Sources {
    std::mutex mutex;
    std::shared_ptr<GrowingFile> clip;
    QByteArray script;

    static int open(void *userData, char *uri, mpv_stream_cb_info *info)
    {
        auto *sources = static_cast<Sources *>(userData);
        const QString name = QString::fromUtf8(uri);
        Stream *stream = nullptr;
        {
            std::lock_guard<std::mutex> lock(sources->mutex);
            if (name.startsWith(kClipUri.arg(QString())) && sources->clip)
                stream = new ClipStream(sources->clip);
            else if (name.startsWith(kReceiptsUri.arg(QString())))
                stream = new ScriptStream(sources->script);
        }
        if (!stream)
            return MPV_ERROR_LOADING_FAILED;
        info->cookie = stream;
        info->read_fn
            = [](void *s, char *buffer, uint64_t size) { return static_cast<Stream *>(s)->read(buffer, size); };
        info->seek_fn = [](void *s, int64_t offset) { return static_cast<Stream *>(s)->seek(offset); };
        info->size_fn = [](void *s) { return static_cast<Stream *>(s)->size(); };
        info->close_fn = [](void *s) { delete static_cast<Stream *>(s); };
        info->cancel_fn = [](void *s) { static_cast<Stream *>(s)->cancel(); };
        return 0;
    }
};

/// What mpv's callbacks carry to the GUI thread: the item and the handle's generation, so that
/// nothing of a handle already gone is acted on. The flags keep the queue to one call of each kind.
struct VideoPlayer::Wakeups {
    VideoPlayer *item = nullptr;
    quint64 generation = 0;
    std::atomic<bool> events { false };
    std::atomic<bool> render { false };
};

struct VideoPlayer::Still {
    quint64 id = 0;
    QString base;
    bool withSubtitles = true;
    QVariantMap receipt;
    double pts = 0;
};

const QList<double> &VideoPlayer::speeds()
{
    static const QList<double> all { 0.25, 0.5, 0.75, 1, 1.5, 2, 3, 4 };
    return all;
}

VideoPlayer::VideoPlayer(QQuickItem *parent)
    : QQuickItem(parent)
    , m_client(VmsClient::shared())
    , m_clipDirectory(QDir::tempPath())
{
    setFlag(ItemHasContents, true);
#ifdef __GLIBC__
    // Every clip opened starts the decoder's threads afresh, and glibc gives new threads heaps of their
    // own, up to eight a core, which fragment and never shrink back: resident memory rose by some 5 MB
    // with each clip opened and closed. With two heaps it comes back to where it was.
    static const bool fewHeaps = mallopt(M_ARENA_MAX, 2) == 1;
    Q_UNUSED(fewHeaps)
#endif
}

VideoPlayer::~VideoPlayer()
{
    stopMpv();
}

void VideoPlayer::setClient(VmsClient *client)
{
    m_client = client;
}

void VideoPlayer::setClipDirectory(const QString &directory)
{
    m_clipDirectory = directory;
}

void VideoPlayer::setSubtitleScript(const QByteArray &script)
{
    if (script == m_subtitleScript)
        return;
    m_subtitleScript = script;
    replaceSubtitles();
}

QByteArray VideoPlayer::subtitleScript() const
{
    return m_subtitleScript;
}

void VideoPlayer::setSubtitleText(const QString &script)
{
    setSubtitleScript(script.toUtf8());
}

bool VideoPlayer::setSubtitleFile(const QString &path)
{
    QFile file(path.startsWith(QLatin1String("file:")) ? QUrl(path).toLocalFile() : path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    setSubtitleScript(file.readAll());
    return true;
}

bool VideoPlayer::isOpen() const
{
    return m_mpv != nullptr;
}

bool VideoPlayer::paused() const
{
    return m_paused;
}

void VideoPlayer::setPaused(bool paused)
{
    if (!m_mpv || paused == m_paused)
        return;
    if (m_playAfterFirstFrame) {
        // Paused before the first frame came: mpv is held already, and nothing lets it go.
        m_playAfterFirstFrame = false;
        updateProperty(m_paused, paused, this, &VideoPlayer::pausedChanged);
        return;
    }
    setMpvProperty("pause", paused ? QStringLiteral("yes") : QStringLiteral("no"));
}

bool VideoPlayer::playing() const
{
    return m_mpv && !m_paused;
}

double VideoPlayer::position() const
{
    return m_position;
}

double VideoPlayer::duration() const
{
    return m_duration;
}

double VideoPlayer::speed() const
{
    return m_speed;
}

void VideoPlayer::setSpeed(double speed)
{
    const auto nearest = std::min_element(speeds().begin(), speeds().end(),
        [speed](double a, double b) { return std::abs(a - speed) < std::abs(b - speed); });
    if (*nearest == m_speed)
        return;
    m_speed = *nearest;
    if (m_mpv)
        setMpvProperty("speed", QString::number(m_speed));
    emit speedChanged();
}

void VideoPlayer::speedUp()
{
    const int at = speeds().indexOf(m_speed);
    setSpeed(speeds().value(std::min(at + 1, int(speeds().size()) - 1)));
}

void VideoPlayer::speedDown()
{
    const int at = speeds().indexOf(m_speed);
    setSpeed(speeds().value(std::max(at - 1, 0)));
}

double VideoPlayer::framePts() const
{
    return m_framePts;
}

bool VideoPlayer::frameDrawn() const
{
    return m_frameDrawn;
}

QString VideoPlayer::errorText() const
{
    return m_errorText;
}

int VideoPlayer::framesDropped() const
{
    return int(m_voDrops + m_decoderDrops);
}

bool VideoPlayer::subtitlesVisible() const
{
    return m_subtitlesVisible;
}

void VideoPlayer::setSubtitlesVisible(bool visible)
{
    if (visible == m_subtitlesVisible)
        return;
    m_subtitlesVisible = visible;
    if (m_mpv)
        setMpvProperty("sub-visibility", visible ? QStringLiteral("yes") : QStringLiteral("no"));
    emit subtitlesVisibleChanged();
}

QSize VideoPlayer::videoSize() const
{
    return m_videoSize;
}

QVariantList VideoPlayer::chapters() const
{
    return m_chapters;
}

QString VideoPlayer::clipPath() const
{
    return m_feed && m_feed->isComplete() ? m_feed->path() : QString();
}

QString VideoPlayer::clipSha256() const
{
    return m_feed ? m_feed->sha256() : QString();
}

QString VideoPlayer::clipFingerprint() const
{
    return m_feed ? m_feed->peerFingerprint() : QString();
}

QImage VideoPlayer::frameImage() const
{
    return m_shown;
}

QStringList VideoPlayer::handedToMpv() const
{
    return m_handed;
}

void VideoPlayer::open(const QString &urlText, double startSeconds, bool paused)
{
    close();
    m_feed.reset();
    if (!m_client) {
        setErrorText(tr("No video server is set."));
        return;
    }
    m_feed = std::make_unique<ClipFeed>();
    connect(m_feed.get(), &ClipFeed::failed, this, &VideoPlayer::onFeedFailed);
    connect(m_feed.get(), &ClipFeed::completed, this, &VideoPlayer::clipCompleted);
    // The one place a transfer starts.
    if (!m_feed->start(*m_client, urlText, m_clipDirectory)) {
        setErrorText(m_feed->error());
        return;
    }
    start(m_feed->file(), startSeconds, paused);
}

void VideoPlayer::openFile(const QString &path, double startSeconds, bool paused)
{
    close();
    m_feed.reset();
    const QFileInfo info(path);
    if (!info.isFile()) {
        setErrorText(tr("There is no clip at \"%1\".").arg(QDir::toNativeSeparators(path)));
        return;
    }
    start(GrowingFile::complete(path, info.size()), startSeconds, paused);
}

void VideoPlayer::start(std::shared_ptr<GrowingFile> file, double startSeconds, bool paused)
{
    // mpv reads and writes numbers in the C locale's form; the application object set the user's.
    std::setlocale(LC_NUMERIC, "C");
    m_mpv = mpv_create();
    if (!m_mpv) {
        setErrorText(tr("The player could not be started (libmpv)."));
        return;
    }
    ++m_generation;
    m_sources = std::make_shared<Sources>();
    m_sources->clip = std::move(file);
    m_sources->script = m_subtitleScript;
    m_wakeups = std::make_unique<Wakeups>();
    m_wakeups->item = this;
    m_wakeups->generation = m_generation;

    // Nothing of the user's mpv set-up, no window, keys, scripts or sound: only what this player needs.
    const QList<QPair<const char *, QString>> options {
        { "config", QStringLiteral("no") },
        { "load-scripts", QStringLiteral("no") },
        { "ytdl", QStringLiteral("no") },
        { "terminal", QStringLiteral("no") },
        { "input-default-bindings", QStringLiteral("no") },
        { "input-vo-keyboard", QStringLiteral("no") },
        { "osc", QStringLiteral("no") },
        { "load-stats-overlay", QStringLiteral("no") },
        { "load-osd-console", QStringLiteral("no") },
        { "load-auto-profiles", QStringLiteral("no") },
        { "vo", QStringLiteral("libmpv") },
        { "hwdec", QStringLiteral("no") },
        { "audio", QStringLiteral("no") },
        { "idle", QStringLiteral("yes") },
        // At the end the last frame stays, so that it can be stepped back from.
        { "keep-open", QStringLiteral("yes") },
        // Every seek lands on the frame asked for, not on the key frame before it.
        { "hr-seek", QStringLiteral("yes") },
        // The frames are drawn on the GUI thread as they come; mpv does not hold them back.
        { "video-timing-offset", QStringLiteral("0") },
        // The receipts drawn into the video at its own resolution, as FFmpeg burns them in.
        { "blend-subtitles", QStringLiteral("video") },
        { "sub-auto", QStringLiteral("no") },
        { "sub-visibility", m_subtitlesVisible ? QStringLiteral("yes") : QStringLiteral("no") },
        { "demuxer-max-bytes", QStringLiteral("32MiB") },
        { "demuxer-max-back-bytes", QStringLiteral("16MiB") },
        { "speed", QString::number(m_speed) },
        // Held on the first frame until it has been drawn, playing or not: a slow machine would
        // otherwise drop it, and the picture would start a few frames after the moment asked for.
        { "pause", QStringLiteral("yes") },
        { "start", QString::number(std::max(0.0, startSeconds), 'f', 6) },
    };
    for (const auto &option : options)
        setMpvOption(option.first, option.second);
    // Loaded with the clip, so that the first frame already carries the receipts.
    if (!m_subtitleScript.isEmpty())
        setMpvOptionList("sub-files", { kReceiptsUri.arg(++m_subtitleCount) });
    // Warnings and errors go to the log; TILLMARK_MPV_LOG ("v", "debug") asks for more when a clip misbehaves.
    const QByteArray logLevel = qEnvironmentVariableIsSet("TILLMARK_MPV_LOG") ? qgetenv("TILLMARK_MPV_LOG") : "warn";
    mpv_request_log_messages(m_mpv, logLevel.constData());
    if (mpv_initialize(m_mpv) < 0) {
        stopMpv();
        setErrorText(tr("The player could not be started (libmpv)."));
        return;
    }
    mpv_stream_cb_add_ro(m_mpv, kProtocol, m_sources.get(), &Sources::open);
    const struct {
        const char *name;
        mpv_format format;
    } observed[] = { { "pause", MPV_FORMAT_FLAG }, { "time-pos", MPV_FORMAT_DOUBLE }, { "duration", MPV_FORMAT_DOUBLE },
        { "speed", MPV_FORMAT_DOUBLE }, { "frame-drop-count", MPV_FORMAT_INT64 },
        { "decoder-frame-drop-count", MPV_FORMAT_INT64 }, { "dwidth", MPV_FORMAT_INT64 },
        { "dheight", MPV_FORMAT_INT64 }, { "eof-reached", MPV_FORMAT_FLAG }, { "chapter-list", MPV_FORMAT_NODE } };
    for (const auto &property : observed)
        mpv_observe_property(m_mpv, 0, property.name, property.format);

    const char *api = MPV_RENDER_API_TYPE_SW;
    mpv_render_param params[]
        = { { MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(api) }, { MPV_RENDER_PARAM_INVALID, nullptr } };
    if (mpv_render_context_create(&m_render, m_mpv, params) < 0) {
        m_render = nullptr;
        stopMpv();
        setErrorText(tr("The player could not draw the video (libmpv's software renderer)."));
        return;
    }
    mpv_set_wakeup_callback(m_mpv, &VideoPlayer::onMpvWakeup, m_wakeups.get());
    mpv_render_context_set_update_callback(m_render, &VideoPlayer::onRenderUpdate, m_wakeups.get());

    m_paused = paused;
    m_playAfterFirstFrame = !paused;
    m_awaitingRestart = true;
    emit pausedChanged();
    emit isOpenChanged();
    mpvCommand({ QStringLiteral("loadfile"), kClipUri.arg(m_generation) });
}

void VideoPlayer::close()
{
    const bool wasOpen = m_mpv != nullptr;
    // Cancelled first: its partial file goes, and mpv's readers wake with an error.
    if (m_feed && m_feed->isRunning())
        m_feed->cancel();
    stopMpv();
    resetState();
    if (wasOpen)
        emit isOpenChanged();
}

void VideoPlayer::stopMpv()
{
    ++m_generation;
    if (m_sources && m_sources->clip)
        m_sources->clip->close();
    if (m_render) {
        mpv_render_context_free(m_render);
        m_render = nullptr;
    }
    if (m_mpv) {
        mpv_terminate_destroy(m_mpv);
        m_mpv = nullptr;
#ifdef __GLIBC__
        // The decoder's threads freed their frames into heaps of their own, which glibc keeps for the
        // process; handed back here, so that a closed player holds no decoder memory.
        malloc_trim(0);
#endif
    }
    m_sources.reset();
    m_wakeups.reset();
    const int pending = m_stills.size();
    m_stills.clear();
    for (int i = 0; i < pending; ++i)
        emit stillSaved(QString(), tr("The player was closed before the still was saved."));
}

void VideoPlayer::resetState()
{
    m_buffers[0] = QImage();
    m_buffers[1] = QImage();
    m_shown = QImage();
    m_textureDirty = true;
    update();
    m_awaitingRestart = false;
    m_playAfterFirstFrame = false;
    m_fileLoaded = false;
    m_lastMpvError.clear();
    updateProperty(m_paused, false, this, &VideoPlayer::pausedChanged);
    updateProperty(m_position, 0.0, this, &VideoPlayer::positionChanged);
    updateProperty(m_duration, 0.0, this, &VideoPlayer::durationChanged);
    updateProperty(m_framePts, 0.0, this, &VideoPlayer::frameShown);
    updateProperty(m_frameDrawn, false, this, &VideoPlayer::frameDrawnChanged);
    updateProperty(m_videoSize, QSize(), this, &VideoPlayer::videoSizeChanged);
    updateProperty(m_chapters, QVariantList(), this, &VideoPlayer::chaptersChanged);
    if (m_voDrops != 0 || m_decoderDrops != 0) {
        m_voDrops = m_decoderDrops = 0;
        emit framesDroppedChanged();
    }
    setErrorText(QString());
}

void VideoPlayer::togglePause()
{
    setPaused(!m_paused);
}

void VideoPlayer::seek(double seconds)
{
    if (!m_mpv)
        return;
    m_awaitingRestart = true;
    mpvCommand(
        { QStringLiteral("seek"), QString::number(std::max(0.0, seconds), 'f', 6), QStringLiteral("absolute+exact") });
}

void VideoPlayer::seekRelative(double seconds)
{
    if (!m_mpv)
        return;
    m_awaitingRestart = true;
    mpvCommand({ QStringLiteral("seek"), QString::number(seconds, 'f', 6), QStringLiteral("relative+exact") });
}

void VideoPlayer::seekToEnd()
{
    if (!m_mpv)
        return;
    m_awaitingRestart = true;
    mpvCommand({ QStringLiteral("seek"), QStringLiteral("100"), QStringLiteral("absolute-percent+exact") });
}

void VideoPlayer::frameStep()
{
    if (m_mpv && m_paused)
        mpvCommand({ QStringLiteral("frame-step") });
}

void VideoPlayer::frameBackStep()
{
    if (!m_mpv || !m_paused)
        return;
    // A seek to the frame before, exact: the next restart brings it.
    m_awaitingRestart = true;
    mpvCommand({ QStringLiteral("frame-back-step") });
}

void VideoPlayer::saveStill(const QString &path, bool withSubtitles, const QVariantMap &receipt)
{
    QString base = path.startsWith(QLatin1String("file:")) ? QUrl(path).toLocalFile() : path;
    if (base.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        base.chop(4);
    if (!m_mpv || !m_frameDrawn) {
        emit stillSaved(QString(), tr("There is no picture to save yet."));
        return;
    }
    Still still;
    still.id = m_nextStill++;
    still.base = base;
    still.withSubtitles = withSubtitles;
    still.receipt = receipt;
    still.pts = m_framePts;
    m_stills.append(still);
    mpvCommand({ QStringLiteral("screenshot-to-file"), base + QStringLiteral(".png"),
                   withSubtitles ? QStringLiteral("subtitles") : QStringLiteral("video") },
        still.id);
}

void VideoPlayer::finishStill(quint64 id, int mpvError)
{
    const auto found = std::find_if(m_stills.begin(), m_stills.end(), [id](const Still &s) { return s.id == id; });
    if (found == m_stills.end())
        return;
    const Still still = *found;
    m_stills.erase(found);
    const QString png = still.base + QStringLiteral(".png");
    const QString json = still.base + QStringLiteral(".json");
    if (mpvError < 0 || !QFileInfo(png).isFile()) {
        emit stillSaved(QString(),
            tr("The still could not be saved as \"%1\": %2")
                .arg(QDir::toNativeSeparators(png), QString::fromUtf8(mpv_error_string(mpvError))));
        return;
    }
    const QSize size = QImageReader(png).size();
    const QDateTime at
        = m_clipStart.isValid() ? m_clipStart.addMSecs(qint64(std::llround(still.pts * 1000))) : QDateTime();
    const QJsonObject record {
        { "program", QJsonObject { { "name", "Tillmark" }, { "version", TILLMARK_VERSION } } },
        { "camera", QJsonObject { { "id", m_cameraId }, { "name", m_cameraName } } },
        { "frame",
            QJsonObject { { "secondsIntoClip", still.pts },
                { "timeUtc", at.isValid() ? at.toUTC().toString(Qt::ISODateWithMs) : QString() },
                { "timeLocal", at.isValid() ? localText(at) : QString() } } },
        { "image",
            QJsonObject { { "name", QFileInfo(png).fileName() }, { "width", size.width() }, { "height", size.height() },
                { "receiptsDrawn", still.withSubtitles } } },
        { "receipt", QJsonObject::fromVariantMap(still.receipt) },
        { "clipRequest", QUrl(m_clipRequest, QUrl::TolerantMode).adjusted(QUrl::RemoveUserInfo).toString() },
    };
    const QByteArray jsonBytes = QJsonDocument(record).toJson(QJsonDocument::Indented);
    QString failure = writeWholeFile(json, jsonBytes);
    if (failure.isEmpty()) {
        QFile image(png);
        const QByteArray pngBytes = image.open(QIODevice::ReadOnly) ? image.readAll() : QByteArray();
        if (pngBytes.isEmpty()) {
            failure = image.errorString();
        } else {
            failure = writeWholeFile(still.base + QStringLiteral(".sha256"),
                checksumLine(Sha256::ofBytes(pngBytes), QFileInfo(png).fileName())
                    + checksumLine(Sha256::ofBytes(jsonBytes), QFileInfo(json).fileName()));
        }
    }
    if (!failure.isEmpty()) {
        emit stillSaved(QString(),
            tr("The still's record could not be written beside \"%1\": %2")
                .arg(QDir::toNativeSeparators(png), failure));
        return;
    }
    emit stillSaved(png, QString());
}

void VideoPlayer::onMpvWakeup(void *context)
{
    auto *wakeups = static_cast<Wakeups *>(context);
    if (wakeups->events.exchange(true))
        return;
    QMetaObject::invokeMethod(
        wakeups->item, [item = wakeups->item, generation = wakeups->generation] { item->drainEvents(generation); },
        Qt::QueuedConnection);
}

void VideoPlayer::onRenderUpdate(void *context)
{
    auto *wakeups = static_cast<Wakeups *>(context);
    if (wakeups->render.exchange(true))
        return;
    QMetaObject::invokeMethod(
        wakeups->item, [item = wakeups->item, generation = wakeups->generation] { item->renderFrame(generation); },
        Qt::QueuedConnection);
}

void VideoPlayer::drainEvents(quint64 generation)
{
    if (generation != m_generation || !m_mpv)
        return;
    m_wakeups->events = false;
    while (generation == m_generation && m_mpv) {
        const mpv_event *event = mpv_wait_event(m_mpv, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        handleEvent(*event);
    }
}

void VideoPlayer::handleEvent(const mpv_event &event)
{
    switch (event.event_id) {
    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto *property = static_cast<const mpv_event_property *>(event.data);
        const QLatin1String name(property->name);
        if (property->format == MPV_FORMAT_FLAG) {
            const bool on = *static_cast<const int *>(property->data) != 0;
            if (name == QLatin1String("pause") && !m_playAfterFirstFrame)
                updateProperty(m_paused, on, this, &VideoPlayer::pausedChanged);
            else if (name == QLatin1String("eof-reached") && on)
                emit ended();
        } else if (property->format == MPV_FORMAT_DOUBLE) {
            const double value = *static_cast<const double *>(property->data);
            if (name == QLatin1String("time-pos")) {
                updateProperty(m_position, value, this, &VideoPlayer::positionChanged);
                // While paused a frame step moves the picture without a seek; what is shown is here.
                if (!m_awaitingRestart && m_frameDrawn && m_paused)
                    updateProperty(m_framePts, value, this, &VideoPlayer::frameShown);
            } else if (name == QLatin1String("duration")) {
                updateProperty(m_duration, value, this, &VideoPlayer::durationChanged);
            } else if (name == QLatin1String("speed")) {
                updateProperty(m_speed, value, this, &VideoPlayer::speedChanged);
            }
        } else if (property->format == MPV_FORMAT_NODE && name == QLatin1String("chapter-list")) {
            updateProperty(m_chapters, chapterTimes(*static_cast<const mpv_node *>(property->data)), this,
                &VideoPlayer::chaptersChanged);
        } else if (property->format == MPV_FORMAT_INT64) {
            const qint64 value = *static_cast<const int64_t *>(property->data);
            if (name == QLatin1String("frame-drop-count"))
                updateProperty(m_voDrops, value, this, &VideoPlayer::framesDroppedChanged);
            else if (name == QLatin1String("decoder-frame-drop-count"))
                updateProperty(m_decoderDrops, value, this, &VideoPlayer::framesDroppedChanged);
            else if (name == QLatin1String("dwidth"))
                updateProperty(
                    m_videoSize, QSize(int(value), m_videoSize.height()), this, &VideoPlayer::videoSizeChanged);
            else if (name == QLatin1String("dheight"))
                updateProperty(
                    m_videoSize, QSize(m_videoSize.width(), int(value)), this, &VideoPlayer::videoSizeChanged);
        }
        break;
    }
    case MPV_EVENT_FILE_LOADED:
        m_fileLoaded = true;
        // A script given after the clip was handed to mpv and before it was loaded had nowhere to go yet.
        if (m_sources->script != m_subtitleScript)
            replaceSubtitles();
        break;
    case MPV_EVENT_PLAYBACK_RESTART: {
        // mpv has shown the frame the seek asked for by now; its time is read here, where the
        // change notices of time-pos may still be on their way.
        m_awaitingRestart = false;
        double at = m_position;
        if (mpv_get_property(m_mpv, "time-pos", MPV_FORMAT_DOUBLE, &at) >= 0)
            updateProperty(m_position, at, this, &VideoPlayer::positionChanged);
        m_framePts = at;
        draw();
        break;
    }
    case MPV_EVENT_END_FILE: {
        const auto *end = static_cast<const mpv_event_end_file *>(event.data);
        if (end->reason == MPV_END_FILE_REASON_ERROR) {
            QString reason = QString::fromUtf8(mpv_error_string(end->error));
            if (!m_lastMpvError.isEmpty())
                reason += QStringLiteral(": ") + m_lastMpvError;
            // The transfer's failure is the better reason where there is one.
            setErrorText(m_feed && !m_feed->error().isEmpty() ? m_feed->error()
                                                              : tr("The clip cannot be played (%1).").arg(reason));
        }
        break;
    }
    case MPV_EVENT_LOG_MESSAGE: {
        const auto *message = static_cast<const mpv_event_log_message *>(event.data);
        const QString text = QString::fromUtf8(message->text).trimmed();
        qDebug().noquote() << "mpv" << message->prefix << message->level << text;
        if (message->log_level <= MPV_LOG_LEVEL_ERROR)
            m_lastMpvError = text;
        break;
    }
    case MPV_EVENT_COMMAND_REPLY:
        if (event.reply_userdata != 0)
            finishStill(event.reply_userdata, event.error);
        break;
    default:
        break;
    }
}

void VideoPlayer::renderFrame(quint64 generation)
{
    if (generation != m_generation || !m_render)
        return;
    m_wakeups->render = false;
    if (mpv_render_context_update(m_render) & MPV_RENDER_UPDATE_FRAME)
        draw();
}

void VideoPlayer::draw()
{
    if (!m_render)
        return;
    const qreal ratio = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    QSize size = (QSizeF(width(), height()) * ratio).toSize();
    if (size.isEmpty())
        size = m_videoSize;
    if (size.isEmpty())
        return;
    // A buffer the scene graph no longer holds; a new one when both are in use.
    QImage *target = nullptr;
    for (QImage &buffer : m_buffers) {
        if (buffer.size() == size && buffer.isDetached() && buffer.constBits() != m_shown.constBits()) {
            target = &buffer;
            break;
        }
    }
    if (!target) {
        QImage *spare = m_buffers[0].constBits() == m_shown.constBits() ? &m_buffers[1] : &m_buffers[0];
        *spare = alignedImage(size);
        if (spare->isNull())
            return;
        target = spare;
    }
    int surface[2] = { size.width(), size.height() };
    size_t stride = size_t(target->bytesPerLine());
    int block = 0;
    mpv_render_param params[] = {
        { MPV_RENDER_PARAM_SW_SIZE, surface },
        { MPV_RENDER_PARAM_SW_FORMAT, const_cast<char *>(kPixelFormat) },
        { MPV_RENDER_PARAM_SW_STRIDE, &stride },
        // Written through the pointer, never through bits(), which would copy an image still shared.
        { MPV_RENDER_PARAM_SW_POINTER, const_cast<uchar *>(target->constBits()) },
        { MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block },
        { MPV_RENDER_PARAM_INVALID, nullptr },
    };
    if (mpv_render_context_render(m_render, params) < 0)
        return;
    m_shown = *target;
    m_textureDirty = true;
    update();
    if (m_awaitingRestart)
        return;
    if (!m_paused)
        m_framePts = m_position;
    updateProperty(m_frameDrawn, true, this, &VideoPlayer::frameDrawnChanged);
    emit frameShown();
    if (m_playAfterFirstFrame) {
        m_playAfterFirstFrame = false;
        setMpvProperty("pause", QStringLiteral("no"));
    }
}

QSGNode *VideoPlayer::updatePaintNode(QSGNode *old, UpdatePaintNodeData *)
{
    auto *node = static_cast<QSGImageNode *>(old);
    if (m_shown.isNull() || !window()) {
        delete node;
        return nullptr;
    }
    if (!node) {
        node = window()->createImageNode();
        node->setOwnsTexture(true);
        node->setFiltering(QSGTexture::Linear);
        m_textureDirty = true;
    }
    if (m_textureDirty) {
        node->setTexture(window()->createTextureFromImage(m_shown));
        m_textureDirty = false;
    }
    node->setRect(QRectF(0, 0, width(), height()));
    return node;
}

void VideoPlayer::geometryChanged(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickItem::geometryChanged(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size() && m_frameDrawn)
        draw();
}

void VideoPlayer::setErrorText(const QString &text)
{
    updateProperty(m_errorText, text, this, &VideoPlayer::errorTextChanged);
}

void VideoPlayer::onFeedFailed(const QString &message)
{
    setErrorText(message);
}

void VideoPlayer::replaceSubtitles()
{
    if (!m_mpv || !m_fileLoaded)
        return;
    // The script handed to mpv last is the one it shows, if any.
    if (!m_sources->script.isEmpty())
        mpvCommand({ QStringLiteral("sub-remove") });
    {
        std::lock_guard<std::mutex> lock(m_sources->mutex);
        m_sources->script = m_subtitleScript;
    }
    if (m_subtitleScript.isEmpty())
        return;
    mpvCommand({ QStringLiteral("sub-add"), kReceiptsUri.arg(++m_subtitleCount), QStringLiteral("select"),
        QStringLiteral("Receipts") });
}

void VideoPlayer::setMpvOption(const char *name, const QString &value)
{
    m_handed << QStringLiteral("option %1=%2").arg(QLatin1String(name), value);
    const int refused = mpv_set_option_string(m_mpv, name, value.toUtf8().constData());
    if (refused < 0)
        qWarning() << "mpv refused the option" << name << value << mpv_error_string(refused);
}

void VideoPlayer::setMpvOptionList(const char *name, const QStringList &values)
{
    // As a list node: given as text, mpv would split the items at the colons of their URLs.
    m_handed << QStringLiteral("option %1=%2").arg(QLatin1String(name), values.join(QLatin1Char(',')));
    std::vector<QByteArray> bytes;
    std::vector<mpv_node> items;
    for (const QString &value : values)
        bytes.push_back(value.toUtf8());
    for (QByteArray &value : bytes) {
        mpv_node item {};
        item.format = MPV_FORMAT_STRING;
        item.u.string = value.data();
        items.push_back(item);
    }
    mpv_node_list list { int(items.size()), items.data(), nullptr };
    mpv_node node {};
    node.format = MPV_FORMAT_NODE_ARRAY;
    node.u.list = &list;
    const int refused = mpv_set_option(m_mpv, name, MPV_FORMAT_NODE, &node);
    if (refused < 0)
        qWarning() << "mpv refused the option" << name << values << mpv_error_string(refused);
}

void VideoPlayer::setMpvProperty(const char *name, const QString &value)
{
    m_handed << QStringLiteral("property %1=%2").arg(QLatin1String(name), value);
    QByteArray bytes = value.toUtf8();
    char *data = bytes.data();
    mpv_set_property_async(m_mpv, 0, name, MPV_FORMAT_STRING, &data);
}

void VideoPlayer::mpvCommand(const QStringList &arguments, quint64 replyId)
{
    m_handed << QStringLiteral("command ") + arguments.join(QLatin1Char(' '));
    std::vector<QByteArray> bytes;
    std::vector<const char *> argv;
    for (const QString &argument : arguments)
        bytes.push_back(argument.toUtf8());
    for (const QByteArray &argument : bytes)
        argv.push_back(argument.constData());
    argv.push_back(nullptr);
    mpv_command_async(m_mpv, replyId, argv.data());
}
