-- Removes a day's count of a reason that forgetting left at zero: day, reason.
DELETE FROM daily_rejections WHERE day = ?1 AND reason = ?2 AND hits = 0
