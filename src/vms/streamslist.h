#pragma once
#include "core/common.h"
#include "core/rowlistmodel.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>

class VmsClient;

/// The cameras the video server offers, for the camera list of the timeline page.
class StreamsList : public RowListModel
{
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
public:
    enum Role { NameRole = Qt::UserRole + 1, IdRole };

    explicit StreamsList(QObject *parent = nullptr);

    /// The video server asked: the one of the connection settings unless another is given.
    VmsClient *client() const;
    void setClient(VmsClient *client);
    bool isLoading() const;
    void setIsLoading(bool value);

    /// Replaces the rows from a "/ec2/getCamerasEx" body; anything but a JSON array gives no rows.
    void parseStreamsData(const QByteArray &body);

public slots:
    void loadStreams();
    /// The row of the camera with this id, -1 when the server offers none such.
    int indexOf(const QString &id) const;
    /// Forgets the cameras and the credentials the server accepted, so that the next login, perhaps
    /// as someone else or on another server, starts afresh.
    void clear();

signals:
    void isLoadingChanged();
    void errorOccured(QString message);

protected:
    int size() const override;
    QVariant value(int row, int role) const override;

private:
    QList<StreamData> m_rows;
    QPointer<VmsClient> m_client;
    /// Loads may overlap; the list is loading until the last of them has finished.
    int m_pendingLoads = 0;
    bool m_isLoading = false;
};
