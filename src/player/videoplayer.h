#pragma once
#include <QDateTime>
#include <QImage>
#include <QPointer>
#include <QQuickItem>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

class ClipFeed;
class VmsClient;
struct mpv_handle;
struct mpv_render_context;
struct mpv_event;

/// The review player: plays a clip with libmpv, drawn through mpv's software renderer into an image that
/// this item paints, so that it works on any scene graph backend (software, offscreen, virtual machines,
/// remote desktops). The clip is fetched by the program itself (ClipFeed) and read by mpv while it
/// arrives; no address or account ever reaches mpv. The receipts are drawn over the picture from the
/// same script the export burns in, at the video's own resolution as FFmpeg draws them.
///
/// Every mpv handle lives from open() to close() (or the next open()): closing lets go of the decoder
/// and its memory, and nothing of an earlier clip (an event, a frame, a transfer's end) reaches a later one.
class VideoPlayer : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(bool isOpen READ isOpen NOTIFY isOpenChanged)
    Q_PROPERTY(bool paused READ paused WRITE setPaused NOTIFY pausedChanged)
    Q_PROPERTY(bool playing READ playing NOTIFY pausedChanged)
    /// Seconds from the start of the clip.
    Q_PROPERTY(double position READ position NOTIFY positionChanged)
    Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(double speed READ speed WRITE setSpeed NOTIFY speedChanged)
    /// The time of the frame on the picture, seconds from the start of the clip.
    Q_PROPERTY(double framePts READ framePts NOTIFY frameShown)
    /// The first frame of the clip (at the start asked for) has been drawn.
    Q_PROPERTY(bool frameDrawn READ frameDrawn NOTIFY frameDrawnChanged)
    /// Why the clip cannot be played, in words; empty while nothing is wrong.
    Q_PROPERTY(QString errorText READ errorText NOTIFY errorTextChanged)
    Q_PROPERTY(int framesDropped READ framesDropped NOTIFY framesDroppedChanged)
    Q_PROPERTY(bool subtitlesVisible READ subtitlesVisible WRITE setSubtitlesVisible NOTIFY subtitlesVisibleChanged)
    Q_PROPERTY(QSize videoSize READ videoSize NOTIFY videoSizeChanged)
    /// Where the clip's chapters start, seconds from its start, in order (an export's review copy has one
    /// at each receipt); empty for a clip without chapters.
    Q_PROPERTY(QVariantList chapters READ chapters NOTIFY chaptersChanged)
    /// The fetched clip and its SHA-256 once the whole clip has arrived, else empty.
    Q_PROPERTY(QString clipPath READ clipPath NOTIFY clipCompleted)
    Q_PROPERTY(QString clipSha256 READ clipSha256 NOTIFY clipCompleted)
    /// What a saved still records of the clip, as the caller gives it.
    Q_PROPERTY(QString cameraId MEMBER m_cameraId NOTIFY stillContextChanged)
    Q_PROPERTY(QString cameraName MEMBER m_cameraName NOTIFY stillContextChanged)
    Q_PROPERTY(QString clipRequest MEMBER m_clipRequest NOTIFY stillContextChanged)
    Q_PROPERTY(QDateTime clipStart MEMBER m_clipStart NOTIFY stillContextChanged)
public:
    /// The speeds [ and ] step through.
    static const QList<double> &speeds();

    explicit VideoPlayer(QQuickItem *parent = nullptr);
    ~VideoPlayer() override;

    /// The video server the clips come from: the one of the connection settings unless another is given.
    void setClient(VmsClient *client);
    /// Where fetched clips are kept while the item lives; the system's temporary folder by default.
    void setClipDirectory(const QString &directory);
    /// The receipts script, the very bytes the export burns in; empty for none.
    void setSubtitleScript(const QByteArray &script);
    QByteArray subtitleScript() const;

    bool isOpen() const;
    bool paused() const;
    void setPaused(bool paused);
    bool playing() const;
    double position() const;
    double duration() const;
    double speed() const;
    /// Snapped to the nearest of speeds().
    void setSpeed(double speed);
    double framePts() const;
    bool frameDrawn() const;
    QString errorText() const;
    int framesDropped() const;
    bool subtitlesVisible() const;
    void setSubtitlesVisible(bool visible);
    QSize videoSize() const;
    QVariantList chapters() const;
    QString clipPath() const;
    QString clipSha256() const;
    /// The certificate the completed clip came through; empty over plain HTTP.
    QString clipFingerprint() const;

    /// The picture mpv last drew, at the item's size in device pixels.
    QImage frameImage() const;
    /// Every option, property and command handed to mpv since the item was made, as text.
    QStringList handedToMpv() const;

    /// Fetches the clip at urlText and plays it from startSeconds (an exact seek: the first frame drawn
    /// is the one at that time), paused or not. Replaces whatever was open.
    Q_INVOKABLE void open(const QString &urlText, double startSeconds = 0, bool paused = false);
    /// The same for a clip already on disk.
    Q_INVOKABLE void openFile(const QString &path, double startSeconds = 0, bool paused = false);
    /// Stops the transfer and the playback and lets go of the decoder. A fetched clip that is whole
    /// stays (clipPath) until the next open or the item's end.
    Q_INVOKABLE void close();

    Q_INVOKABLE void togglePause();
    /// Exactly to seconds from the start of the clip.
    Q_INVOKABLE void seek(double seconds);
    Q_INVOKABLE void seekRelative(double seconds);
    Q_INVOKABLE void seekToEnd();
    /// While paused: exactly one frame forward or back.
    Q_INVOKABLE void frameStep();
    Q_INVOKABLE void frameBackStep();
    Q_INVOKABLE void speedUp();
    Q_INVOKABLE void speedDown();
    /// setSubtitleScript() for QML, from the script's text.
    Q_INVOKABLE void setSubtitleText(const QString &script);
    /// setSubtitleScript() with the bytes of a script file (the export's "sub.ass"); false, and the
    /// script left as it was, when the file cannot be read.
    Q_INVOKABLE bool setSubtitleFile(const QString &path);
    /// Saves the frame on the picture as NAME.png at the clip's own resolution, with or without the
    /// receipts as drawn, beside NAME.json (camera, the frame's time, receipt, clip request, version)
    /// and NAME.sha256 over both. path: "DIR/NAME", "DIR/NAME.png" or its file URL. Ends with
    /// stillSaved().
    Q_INVOKABLE void saveStill(const QString &path, bool withSubtitles, const QVariantMap &receipt = {});

signals:
    void isOpenChanged();
    void pausedChanged();
    void positionChanged();
    void durationChanged();
    void speedChanged();
    /// A frame has been drawn after the seek or start that asked for it, and on each frame after.
    void frameShown();
    void frameDrawnChanged();
    void errorTextChanged();
    void framesDroppedChanged();
    void subtitlesVisibleChanged();
    void videoSizeChanged();
    void chaptersChanged();
    void clipCompleted();
    void stillContextChanged();
    /// pngPath on success; else error says why.
    void stillSaved(const QString &pngPath, const QString &error);
    /// The clip played to its end.
    void ended();

protected:
    QSGNode *updatePaintNode(QSGNode *old, UpdatePaintNodeData *) override;
    void geometryChanged(const QRectF &newGeometry, const QRectF &oldGeometry) override;

private:
    struct Sources;
    struct Still;

    static void onMpvWakeup(void *context);
    static void onRenderUpdate(void *context);

    void start(std::shared_ptr<class GrowingFile> file, double startSeconds, bool paused);
    void stopMpv();
    void drainEvents(quint64 generation);
    void handleEvent(const mpv_event &event);
    void renderFrame(quint64 generation);
    /// Has mpv draw its current frame into a free buffer and shows it.
    void draw();
    void setErrorText(const QString &text);
    void onFeedFailed(const QString &message);
    /// Puts the current script in the place of the one mpv shows.
    void replaceSubtitles();
    void finishStill(quint64 id, int mpvError);
    void resetState();

    // Every call into mpv goes through these, and is recorded.
    void setMpvOption(const char *name, const QString &value);
    void setMpvOptionList(const char *name, const QStringList &values);
    void setMpvProperty(const char *name, const QString &value);
    void mpvCommand(const QStringList &arguments, quint64 replyId = 0);

    mpv_handle *m_mpv = nullptr;
    mpv_render_context *m_render = nullptr;
    std::shared_ptr<Sources> m_sources;
    struct Wakeups;
    std::unique_ptr<Wakeups> m_wakeups;
    quint64 m_generation = 0;

    std::unique_ptr<ClipFeed> m_feed;
    QPointer<VmsClient> m_client;
    QString m_clipDirectory;
    QByteArray m_subtitleScript;
    int m_subtitleCount = 0;

    QImage m_buffers[2];
    QImage m_shown;
    bool m_textureDirty = false;
    bool m_awaitingRestart = false;
    /// Opened to play: mpv holds the first frame until it has been drawn, then plays.
    bool m_playAfterFirstFrame = false;
    bool m_fileLoaded = false;

    bool m_paused = false;
    double m_position = 0;
    double m_duration = 0;
    double m_speed = 1;
    double m_framePts = 0;
    bool m_frameDrawn = false;
    QString m_errorText;
    QString m_lastMpvError;
    qint64 m_voDrops = 0;
    qint64 m_decoderDrops = 0;
    bool m_subtitlesVisible = true;
    QSize m_videoSize;
    QVariantList m_chapters;

    QString m_cameraId;
    QString m_cameraName;
    QString m_clipRequest;
    QDateTime m_clipStart;
    QList<Still> m_stills;
    quint64 m_nextStill = 1;

    QStringList m_handed;
};
