#pragma once
#include <QAbstractListModel>
#include <QAuthenticator>
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QString>
#include <QVariantMap>

/// One camera of the video server: the id later requests name it by, and its display name.
struct StreamData {
    QString id;
    QString name;
};

/// The cameras the video server offers, for the camera list of the timeline page.
class StreamsList : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
public:
    enum Role { NameRole = Qt::UserRole + 1, IdRole };

    explicit StreamsList(QObject *parent = nullptr);

    bool isLoading() const;
    void setIsLoading(bool value);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    /// An empty string for a role without a value or a row that does not exist (no size hint at all).
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    /// Replaces the rows from a "/ec2/getCamerasEx" body; anything but a JSON array gives no rows.
    void parseStreamsData(const QByteArray &body);

public slots:
    void loadStreams();
    /// The row as a map from role name to value; an empty map for a row that does not exist.
    QVariantMap get(int index) const;

signals:
    void isLoadingChanged();
    void errorOccured(QString message);

private slots:
    void authenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator);

private:
    QList<StreamData> m_rows;
    QHash<int, QByteArray> m_roles;
    QNetworkAccessManager m_manager;
    /// Loads may overlap; the list is loading until the last of them has finished.
    int m_pendingLoads = 0;
    bool m_isLoading = false;
};
