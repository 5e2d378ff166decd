-- The rejected hits of days ?1 to ?2 by day and reason.
SELECT day, reason, hits FROM daily_rejections WHERE day BETWEEN ?1 AND ?2 AND hits != 0
