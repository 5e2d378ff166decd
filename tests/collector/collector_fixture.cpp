#include "collector_fixture.h"

#include <gtest/gtest.h>

#include <signal.h>

namespace zncip::collector::test
{

std::string moduleEvent(const std::string& category, const std::string& action,
                        const std::string& encodedLabel, const std::string& cid)
{
    std::string body = "v=1&tid=UA-582047-16&cid=" + cid +
                       "&t=event&ul=en-us&qt=1&an=App%20SP2%20x64&av=1.0&ec=" + category + "&ea=" + action;
    if (!encodedLabel.empty())
        body += "&el=" + encodedLabel;
    return body + "&ev=1";
}

std::vector<StoredHit> readHits(const std::string& dbPath)
{
    SqliteOptions options;
    options.readOnly = true;
    std::vector<StoredHit> hits;
    openSqliteStore(dbPath, options)->forEach([&](const StoredHit& h) { hits.push_back(h); });
    return hits;
}

RunningServer::RunningServer(ServerConfig base, std::unique_ptr<HitStore> store) : config(std::move(base))
{
    config.port = 0;
    if (config.dbPath == ServerConfig().dbPath)
        config.dbPath = dir.file("hits.db");
    server = std::make_unique<Server>(config, std::move(store));
    server->start();
}

Program::Program(const std::vector<std::string>& args)
{
    QStringList list;
    for (const std::string& a : args)
        list << QString::fromStdString(a);
    process.start(QStringLiteral(ZNCIP_BIN_DIR "/zncip-collector"), list);
    process.waitForStarted(10000);
}

Program::~Program()
{
    process.kill();
    process.waitForFinished(10000);
}

void Program::signal(int number)
{
    ::kill(static_cast<pid_t>(process.processId()), number);
}

std::string Program::readLine()
{
    while (!process.canReadLine() && process.waitForReadyRead(10000))
        ;
    return process.readLine().trimmed().toStdString();
}

uint16_t Program::port()
{
    const std::string line = readLine(), prefix = "listening on 127.0.0.1:";
    const int port = std::atoi(line.c_str() + std::min(line.size(), prefix.size()));
    EXPECT_EQ(line, prefix + std::to_string(port)) << "the first line";
    return static_cast<uint16_t>(line == prefix + std::to_string(port) ? port : 0);
}

int Program::wait()
{
    if (!process.waitForFinished(20000))
        return -1;
    return process.exitStatus() == QProcess::CrashExit ? 128 + process.exitCode() : process.exitCode();
}

Finished runProgram(const std::vector<std::string>& args)
{
    Program p(args);
    const int status = p.wait();
    return {status, p.process.readAllStandardOutput().toStdString(),
            p.process.readAllStandardError().toStdString()};
}

} // namespace zncip::collector::test
